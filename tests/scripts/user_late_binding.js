// Late-bound use of the user object from JScript, which looks members up by their exact name.
var failures = 0;
function check(cond, what) {
    if (!cond) {
        WScript.Echo("FAIL: " + what);
        failures++;
    }
}
function errorOf(f) {
    try {
        f();
    } catch (e) {
        return e.number;
    }
    return 0;
}

var u = new ActiveXObject("KalvoraAdminUser.KalvoraUser");
u.Computer = "PC1";
u.IsNetwork = -1;
check(u.Computer === "PC1" && u.IsNetwork === -1, "Computer and IsNetwork round trip");
check(typeof u.MyRecent === "string" && u.MyRecent.length === 0, "MyRecent is an empty string");
// The lower-case name misses the name cache; the type information resolves it.
u.name = "lower";
check(u.Name === "lower", "lower-case member name");
check(errorOf(function () { u.WriteToRegistry(); }) === (0x80004005 | 0), "WriteToRegistry throws E_FAIL");
var shares = new ActiveXObject("KalvoraAdminUser.KalvoraShares");
check(errorOf(function () { shares.NoSuchMethod(); }) !== 0, "unknown method refused");

if (failures === 0) WScript.Echo("SCRIPT PASSED");
WScript.Quit(failures);
