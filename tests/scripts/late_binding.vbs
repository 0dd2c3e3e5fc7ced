' Late binding from VBScript, beyond what the bad-input tables send through
' IDispatch: a versioned ProgID, the interface's name, member names in any
' letter case, text converted to a Long, and the error of an unknown member.
' Prints "SCRIPT PASSED" when every check held.
Option Explicit
Dim u, failures
failures = 0
Sub Check(what, got, want)
    If got = want Then Exit Sub
    WScript.Echo "FAIL: " & what & ": got [" & got & "], expected [" & want & "]"
    failures = failures + 1
End Sub
Function UnknownMember(o)
    On Error Resume Next
    o.NoSuchMember = 1
    UnknownMember = Hex(Err.Number)
End Function
Set u = CreateObject("KalvoraAdminUser.KalvoraUser.1")
u.name = "jdoe" : u.IsNetwork = "7"
Check "a user", TypeName(u) & " " & u.NAME & VarType(u.IsNetwork) & u.isnetwork & UnknownMember(u), "IKalvoraUser jdoe" & vbLong & "71B6"
If failures = 0 Then WScript.Echo "SCRIPT PASSED"
WScript.Quit failures
