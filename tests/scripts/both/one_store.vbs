' one_store.vbs STEP: the 32-bit and the 64-bit DLL share one store of users
' and shares, in one 64-bit prefix where both are registered:
'   seed (32-bit): a user key and a share, as the 32-bit console leaves them;
'   swap (64-bit): sees both, removes the user, publishes a second share;
'   check (32-bit): sees what the 64-bit script did.
Option Explicit
Dim failures, users, store, step, arch, shares, i, both
failures = 0
step = WScript.Arguments(0)
arch = CreateObject("WScript.Shell").Environment("PROCESS")("PROCESSOR_ARCHITECTURE")
Set users = CreateObject("KalvoraAdminUser.EnumKalvoraUser")
Set store = CreateObject("KalvoraAdminUser.KalvoraShares")

Sub CheckEq(actual, expected, what)
    If actual <> expected Then
        WScript.Echo "FAIL: " & step & ": " & what & ": got [" & actual & "], expected [" & expected & "]"
        failures = failures + 1
    End If
End Sub

If step = "seed" Then
    CheckEq arch & users.GetCount(), "x860", "a 32-bit process, no users yet"
    CreateObject("WScript.Shell").RegWrite "HKLM\SOFTWARE\Vantrope\ORVE\TAV\Users\both-a\Computer", "PC32", "REG_SZ"
    CheckEq store.PutShare("Both", "From32", "\\srv\from32", "", "", ""), 0, "share published"
ElseIf step = "swap" Then
    CheckEq arch & users.GetCount() & users.Item("both-a").Computer, "AMD641PC32", "a 64-bit process sees the user"
    users.Remove "both-a"
    CheckEq store.PutShare("Both", "From64", "\\srv\from64", "", "", ""), 0, "share published"
End If
For i = 0 To store.GetShareCount("Both") - 1 : shares = shares & store.GetShareName(i) & "|" : Next
both = "From32 - [\\srv\from32]|From64 - [\\srv\from64]|"
If step = "swap" Then CheckEq shares, both, "shares seen"
If step = "check" Then CheckEq arch & users.GetCount() & shares, "x860" & both, _
    "a 32-bit process sees what the 64-bit one did"

If failures = 0 Then WScript.Echo "SCRIPT PASSED"
WScript.Quit failures
