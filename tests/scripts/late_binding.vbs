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

' The console's import file, and the check before adding a user.
Dim fso, path
Set fso = CreateObject("Scripting.FileSystemObject")
path = fso.BuildPath(fso.GetSpecialFolder(2), "users.csv")
fso.CreateTextFile(path, True).Write "heading" & vbCrLf & "1,2,3,4,5,imp,7,PC9,9" & vbCrLf & ",,,,,imp2,,PC9"
CheckEq users.ImportFile(path) & users.Item("imp").Computer & users.GetCount(), "2\\PC95", "an import file"
name = "imp" : v = "PC9"
CheckEq users.CheckComputer(name, v) & users.CheckComputer("", "") & users.CheckComputer("new", v), "-10-5-8", "checks"
fso.DeleteFile path

' AddUserDB reads variables, passed by reference, as text; only "true" enables the network. It
' appends the user it cannot write; a value passed as such, or without a text form, adds nothing.
Dim e, net, c, k
k = 0 : c = "PC1" : v = "x"
On Error Resume Next
For Each net In Array("true", "True", "1", True, Null)
    k = k + 1 : name = "db" & k
    users.AddUserDB name, c, v, v, v, v, net, v : e = e & Hex(Err.Number) & "," : Err.Clear
Next
users.AddUserDB (name), c, v, v, v, v, net, v : e = e & Hex(Err.Number) : Err.Clear
On Error GoTo 0
CheckEq e, "80004005,80004005,80004005,80004005,D,5", "AddUserDB results (D: type mismatch, 5: invalid argument)"
CheckEq users.Item("db1").IsNetwork & users.Item("db2").IsNetwork & users.Item("db3").IsNetwork & users.Item("db4").IsNetwork & _
    users.Item("db1").Computer & users.Item("db1").MyFavorites & users.GetCount(), "1000PC1x9", "AddUserDB users"

If failures = 0 Then WScript.Echo "SCRIPT PASSED"
WScript.Quit failures
