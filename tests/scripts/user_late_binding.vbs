' Late-bound use of the user object from VBScript.
Option Explicit
Dim failures, u, v
failures = 0
Sub Check(cond, what)
    If Not cond Then WScript.Echo "FAIL: " & what : failures = failures + 1
End Sub

Set u = CreateObject("KalvoraAdminUser.KalvoraUser")
Check TypeName(u) = "IKalvoraUser", "TypeName is " & TypeName(u)
' Member names are found whatever their case; text is converted to the declared type.
u.name = "jdoe"
u.COMPUTER = "\\PC1"
u.MyDesktop = "\\PC1\C$\Desktop"
u.securitylevel = "standard"
u.IsNetwork = "7"
u.Mailbox = "jdoe@example.org"
Check u.Name = "jdoe", "Name round trip"
Check u.Computer = "\\PC1", "Computer round trip"
Check u.SECURITYLEVEL = "standard", "SecurityLevel round trip"
Check u.mailbox = "jdoe@example.org", "Mailbox round trip"
Check u.IsNetwork = 7 And VarType(u.IsNetwork) = vbLong, "IsNetwork takes text converted to a Long"
' A variable arrives by reference.
v = "asmith"
u.Name = v
Check u.Name = "asmith", "Name from a variable"
Check CreateObject("KalvoraAdminUser.KalvoraUser.1").Name = "", "a second object starts empty"
On Error Resume Next
u.WriteToRegistry
Check Err.Number = &H80004005, "WriteToRegistry fails with E_FAIL, not " & Hex(Err.Number)
Err.Clear
u.NoSuchMember = 1
Check Err.Number = 438, "unknown member refused with error " & Err.Number
On Error GoTo 0
u.PopulateMyComputer
Check u.MyDesktop = "\\PC1\C$\Desktop", "PopulateMyComputer without a reachable computer keeps the desktop path"

If failures = 0 Then WScript.Echo "SCRIPT PASSED"
WScript.Quit failures
