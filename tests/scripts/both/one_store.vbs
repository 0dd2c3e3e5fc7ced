' one_store.vbs STEP: the 32-bit and the 64-bit DLL share one store of users
' and shares. Run in one 64-bit prefix where both are registered:
'   seed (32-bit): a user key and a share, as the 32-bit console leaves them;
'   swap (64-bit): sees both, removes the user, publishes a second share;
'   check (32-bit): sees what the 64-bit script did.
Option Explicit
Dim failures, shell, users, store, step, listed, i, arch
failures = 0
Set shell = CreateObject("WScript.Shell")
step = WScript.Arguments(0)
arch = shell.Environment("PROCESS")("PROCESSOR_ARCHITECTURE")

Sub CheckEq(actual, expected, what)
    If actual <> expected Then
        WScript.Echo "FAIL: " & step & ": " & what & ": got [" & actual & "], expected [" & expected & "]"
        failures = failures + 1
    End If
End Sub

Function Shares()
    Dim n, k
    n = store.GetShareCount("Both")
    For k = 0 To n - 1 : Shares = Shares & store.GetShareName(k) & "|" : Next
End Function

Set users = CreateObject("KalvoraAdminUser.EnumKalvoraUser")
Set store = CreateObject("KalvoraAdminUser.KalvoraShares")
Select Case step
Case "seed"
    CheckEq arch, "x86", "runs as a 32-bit process"
    CheckEq users.GetCount(), 0, "no users yet"
    shell.RegWrite "HKLM\SOFTWARE\Vantrope\ORVE\TAV\Users\both-a\Computer", "PC32", "REG_SZ"
    CheckEq store.PutShare("Both", "From32", "\\srv\from32", "", "", ""), 0, "share published"
Case "swap"
    CheckEq arch, "AMD64", "runs as a 64-bit process"
    CheckEq users.GetCount(), 1, "users seen"
    CheckEq users.Item("both-a").Computer, "PC32", "the user of the 32-bit console"
    CheckEq Shares(), "From32 - [\\srv\from32]|", "shares seen"
    users.Remove "both-a"
    CheckEq store.PutShare("Both", "From64", "\\srv\from64", "", "", ""), 0, "share published"
Case "check"
    CheckEq arch, "x86", "runs as a 32-bit process"
    CheckEq users.GetCount(), 0, "the user removed by the 64-bit DLL"
    CheckEq Shares(), "From32 - [\\srv\from32]|From64 - [\\srv\from64]|", "shares seen"
Case Else
    CheckEq step, "seed, swap or check", "step"
End Select

If failures = 0 Then WScript.Echo "SCRIPT PASSED"
WScript.Quit failures
