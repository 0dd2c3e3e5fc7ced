// Late-bound use of the user object from JScript.
var failures = 0;
function check(cond, what) {
    if (!cond) {
        WScript.Echo("FAIL: " + what);
        failures++;
    }
}

var u = new ActiveXObject("KalvoraAdminUser.KalvoraUser");
u.Name = "jdoe";
u.Computer = "PC1";
u.IsNetwork = -1;
u.MyFavorites = "\\\\PC1\\C$\\Favorites";
check(u.Name === "jdoe", "Name round trip");
check(u.Computer === "PC1", "Computer is stored as given");
check(u.IsNetwork === -1, "IsNetwork -1");
check(u.MyFavorites === "\\\\PC1\\C$\\Favorites", "MyFavorites round trip");
check(typeof u.MyRecent === "string" && u.MyRecent.length === 0, "MyRecent empty");

// JScript looks members up by exact name; the lower-case form goes through
// the type information.
u.name = "lower";
check(u.Name === "lower", "lower-case member name");

var failed = false;
try {
    u.WriteToRegistry();
} catch (e) {
    failed = (e.number & 0xFFFFFFFF) === (0x80004005 & 0xFFFFFFFF);
}
check(failed, "WriteToRegistry throws E_FAIL");

var shares = new ActiveXObject("KalvoraAdminUser.KalvoraShares");
var refused = false;
try {
    shares.NoSuchMethod();
} catch (e) {
    refused = true;
}
check(refused, "unknown method refused");

if (failures === 0) WScript.Echo("SCRIPT PASSED");
WScript.Quit(failures);
