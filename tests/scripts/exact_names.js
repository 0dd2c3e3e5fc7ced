// Late binding from JScript, where VBScript differs: values arrive by value,
// and a name is looked up with the letter case the script gives it.
var failures = 0;
function check(cond, what) {
    if (!cond) { WScript.Echo("FAIL: " + what); failures++; }
}
var u = new ActiveXObject("KalvoraAdminUser.KalvoraUser");
u.Computer = "PC1";
u.IsNetwork = -1;
u.name = "lower";  // misses the name cache; the type information resolves it
check(u.Computer === "PC1" && u.IsNetwork === -1 && u.Name === "lower", "properties by value, any case");
check(typeof u.MyRecent === "string" && u.MyRecent.length === 0, "MyRecent is an empty string");
var store = new ActiveXObject("KalvoraAdminUser.KalvoraShares");
check(store.PutShare("J", "n", "ts://h", "", "", "") === 0 && store.GetShareCount("J") === 1, "PutShare by value");
try {
    u.WriteToRegistry();
    check(false, "WriteToRegistry throws");
} catch (e) {
    check(e.number === (0x80004005 | 0), "WriteToRegistry throws E_FAIL, not " + e.number);
}
if (failures === 0) WScript.Echo("SCRIPT PASSED");
WScript.Quit(failures);
