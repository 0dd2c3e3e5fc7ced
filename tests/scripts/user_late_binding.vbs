' Late-bound use of the user object from VBScript.
Option Explicit

Dim failures : failures = 0
Sub Check(cond, what)
    If Not cond Then
        WScript.Echo "FAIL: " & what
        failures = failures + 1
    End If
End Sub

Dim u, u2, coll, e
Set u = CreateObject("KalvoraAdminUser.KalvoraUser")
Check TypeName(u) = "IKalvoraUser", "TypeName is " & TypeName(u)

' A new user: empty strings, IsNetwork 0.
Check u.Name = "", "new Name is empty"
Check u.Computer = "", "new Computer is empty"
Check u.IsNetwork = 0, "new IsNetwork is 0"

' Member names are found whatever their case.
u.name = "jdoe"
u.COMPUTER = "\\PC1"
u.MyDesktop = "\\PC1\C$\Desktop"
u.securitylevel = "standard"
u.IsNetwork = "7"
u.Mailbox = "jdoe@example.org"
Check u.Name = "jdoe", "Name round trip"
Check u.Computer = "\\PC1", "Computer round trip"
Check u.mydesktop = "\\PC1\C$\Desktop", "MyDesktop round trip"
Check u.SecurityLevel = "standard", "SecurityLevel round trip"
Check u.IsNetwork = 7, "IsNetwork takes text converted to a number"
Check VarType(u.IsNetwork) = vbLong, "IsNetwork is a Long"
Check u.Mailbox = "jdoe@example.org", "Mailbox round trip"

' A variable passed by reference works as well.
Dim v : v = "asmith"
u.Name = v
Check u.Name = "asmith", "Name from a variable"

' Objects do not share state.
Set u2 = CreateObject("KalvoraAdminUser.KalvoraUser.1")
Check u2.Name = "", "second object starts empty"

' WriteToRegistry always fails with E_FAIL.
On Error Resume Next
u.WriteToRegistry
e = Err.Number
Err.Clear
On Error GoTo 0
Check e = &H80004005, "WriteToRegistry error is 0x" & Hex(e)

' An unknown member is refused.
On Error Resume Next
u.NoSuchMember = 1
e = Err.Number
Err.Clear
On Error GoTo 0
Check e <> 0, "unknown member refused"

' NextUser of the collection is read-only.
Set coll = CreateObject("KalvoraAdminUser.EnumKalvoraUser")
On Error Resume Next
coll.NextUser = "x"
e = Err.Number
Err.Clear
On Error GoTo 0
Check e <> 0, "put on NextUser refused"

u.PopulateMyComputer
Check u.MyDesktop = "\\PC1\C$\Desktop", "PopulateMyComputer without a reachable computer keeps the desktop path"

If failures = 0 Then WScript.Echo "SCRIPT PASSED"
WScript.Quit failures
