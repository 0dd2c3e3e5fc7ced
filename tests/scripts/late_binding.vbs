' Late binding from VBScript, as administrators' scripts use the module:
' ProgIDs, names in any letter case, variables passed by reference, text
' converted to the declared types, errors raised from failure results.
Option Explicit
Dim failures, shell, users, user, v, name, key, i
failures = 0
Set shell = CreateObject("WScript.Shell")

Sub CheckEq(actual, expected, what)
    If actual <> expected Then
        WScript.Echo "FAIL: " & what & ": got [" & actual & "], expected [" & expected & "]"
        failures = failures + 1
    End If
End Sub

Function ErrorOf(obj, member)  ' the error a call raises (On Error sits in each procedure)
    On Error Resume Next
    If member = "NoSuchMember" Then obj.NoSuchMember = 1 Else obj.WriteToRegistry
    ErrorOf = Hex(Err.Number)
End Function

Set user = CreateObject("KalvoraAdminUser.KalvoraUser.1")
CheckEq TypeName(user), "IKalvoraUser", "TypeName"
name = "jdoe" : v = "7"
user.name = name                      ' a variable arrives by reference
user.IsNetwork = v                    ' text converted to a Long
CheckEq user.NAME & VarType(user.IsNetwork) & user.IsNetwork, "jdoe" & vbLong & "7", "properties"
CheckEq ErrorOf(user, "WriteToRegistry"), "80004005", "a failure result raises an error"
CheckEq ErrorOf(user, "NoSuchMember"), "1B6", "an unknown member"

' The users live in the 32-bit registry view, which a 64-bit script reaches through Wow6432Node.
key = "HKLM\SOFTWARE\Vantrope\ORVE\TAV\Users\"
If shell.Environment("PROCESS")("PROCESSOR_ARCHITECTURE") = "AMD64" Then key = Replace(key, "SOFTWARE\", "SOFTWARE\Wow6432Node\")
shell.RegWrite key & "walk-b\Computer", "PCB", "REG_SZ"
shell.RegWrite key & "walk-a\NetWork Enable", " 12abc", "REG_SZ"
Set users = CreateObject("KalvoraAdminUser.EnumKalvoraUser")
users.Add user
v = ""
For i = 1 To users.GetCount() : v = v & users.NextUser & "," : Next
CheckEq v & users.Item(name).IsNetwork & users.Item("walk-a").IsNetwork & users.Item("walk-b").Computer, _
    "walk-a,walk-b,jdoe,712PCB", "a walk and lookups by variable"

If failures = 0 Then WScript.Echo "SCRIPT PASSED"
WScript.Quit failures
