' Late binding from VBScript, beyond what the bad-input tables send through
' IDispatch: a versioned ProgID, the interface's name, member names in any
' letter case, text converted to a Long, and the error of an unknown member.
' Prints "SCRIPT PASSED" when every check held.
Option Explicit
Dim u, got, want
Function UnknownMember(o)
    On Error Resume Next
    o.NoSuchMember = 1
    UnknownMember = Hex(Err.Number)
End Function
Set u = CreateObject("KalvoraAdminUser.KalvoraUser.1")
u.name = "jdoe" : u.IsNetwork = "7"
got = TypeName(u) & " " & u.NAME & VarType(u.IsNetwork) & u.isnetwork & UnknownMember(u)
want = "IKalvoraUser jdoe" & vbLong & "71B6"
If got = want Then WScript.Echo "SCRIPT PASSED" _
    Else WScript.Echo "FAIL: a user: got [" & got & "], expected [" & want & "]"
WScript.Quit Abs(got <> want)
