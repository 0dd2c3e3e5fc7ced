// Late binding from JScript, where VBScript differs: values arrive by value,
// a name is looked up with the letter case the script gives it, and a failure
// is an exception (null against empty strings, and the shares: tests/badinput).
var failures = 0;
function check(cond, what) {
    if (!cond) { WScript.Echo("FAIL: " + what); failures++; }
}
var u = new ActiveXObject("KalvoraAdminUser.KalvoraUser");
u.Computer = "PC1";
u.IsNetwork = -1;
u.name = "lower";
check(u.Computer === "PC1" && u.IsNetwork === -1 && u.Name === "lower", "properties by value, any case");
try {
    u.WriteToRegistry();
    check(false, "WriteToRegistry throws");
} catch (e) {
    check(e.number === (0x80004005 | 0), "WriteToRegistry throws E_FAIL, not " + e.number);
}
if (failures === 0) WScript.Echo("SCRIPT PASSED");
WScript.Quit(failures);
