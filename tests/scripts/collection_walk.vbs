' Walks the user collection through late binding: seeds user keys, creates
' the collection by its ProgID, and checks the walk, lookups, appends,
' removal and clearing. A fresh collection shows which keys are left.
Option Explicit

Const PROGID = "KalvoraAdminUser.EnumKalvoraUser"
Const E_FAIL = &H80004005

Dim failures : failures = 0
Dim shell : Set shell = CreateObject("WScript.Shell")
' The users live in the 32-bit registry view, which a 64-bit script reaches through Wow6432Node.
Dim USERS_KEY : USERS_KEY = "HKLM\SOFTWARE\Vantrope\ORVE\TAV\Users\"
If shell.Environment("PROCESS")("PROCESSOR_ARCHITECTURE") = "AMD64" Then
    USERS_KEY = "HKLM\SOFTWARE\Wow6432Node\Vantrope\ORVE\TAV\Users\"
End If

Sub Check(condition, message)
    If Not condition Then
        failures = failures + 1
        WScript.Echo "FAIL: " & message
    End If
End Sub

' Reset, then as many NextUser calls as GetCount reports, joined by commas.
Function Walk(users)
    Dim i, text
    users.Reset
    For i = 1 To users.GetCount()
        If i > 1 Then text = text & ","
        text = text & users.NextUser
    Next
    Walk = text
End Function

Dim seed, users, user, walked
On Error Resume Next
For Each seed In Array("walk-a", "walk-b", "walk-c")
    shell.RegDelete USERS_KEY & seed & "\"
Next
On Error GoTo 0
' Key name, computer and NetWork Enable of each user.
For Each seed In Array(Array("walk-c", "PCC", "1"), Array("walk-a", "PCA", " 12abc"), _
                       Array("walk-b", "PCB", "true"))
    shell.RegWrite USERS_KEY & seed(0) & "\Computer", seed(1), "REG_SZ"
    shell.RegWrite USERS_KEY & seed(0) & "\My Desktop", "\\" & seed(1) & "\C$\Desktop", "REG_SZ"
    shell.RegWrite USERS_KEY & seed(0) & "\Security Level", "standard", "REG_SZ"
    shell.RegWrite USERS_KEY & seed(0) & "\NetWork Enable", seed(2), "REG_SZ"
Next

Set users = CreateObject(PROGID)
walked = Walk(users)
Check walked = "walk-a,walk-b,walk-c", "walk in registry order, got " & walked
Check users.NextUser = "walk-a", "the walk wraps round to the first user"
Set user = users.Item("walk-a")
walked = user.Name & "|" & user.Computer & "|" & user.MyDesktop & "|" & user.SecurityLevel & "|" & _
    user.MyDocuments & "|" & user.IsNetwork & "|" & users.Item("walk-b").IsNetwork & "|" & _
    users.Item("walk-c").IsNetwork
Check walked = "walk-a|PCA|\\PCA\C$\Desktop|standard||12|0|1", "values loaded, got " & walked

' A user made by the client is appended without a registry key.
Set user = CreateObject("KalvoraAdminUser.KalvoraUser")
user.Name = "walk-extra"
users.Add user
users.Remove "walk-b"
walked = Walk(users)
Check walked = "walk-a,walk-c,walk-extra", "walk after Add and Remove, got " & walked
walked = Walk(CreateObject(PROGID))
Check walked = "walk-a,walk-c", "keys after Add and Remove, got " & walked

' walk-extra has no key, so ClearKeys fails after deleting the others, and keeps the list.
On Error Resume Next
users.ClearKeys
Check Err.Number = E_FAIL, "ClearKeys with a user without key fails, got " & Hex(Err.Number)
Err.Clear
On Error GoTo 0
walked = Walk(users)
Check walked = "walk-a,walk-c,walk-extra", "ClearKeys keeps the list, got " & walked
Check users.Item("walk-c").Computer = "PCC", "users stay usable after ClearKeys"

Set users = CreateObject(PROGID)
Check users.GetCount() = 0, "ClearKeys deleted the listed keys, but " & users.GetCount() & " are left"
On Error Resume Next
walked = users.NextUser
Check Err.Number = E_FAIL, "NextUser on an empty collection fails, got " & Hex(Err.Number)
Err.Clear
On Error GoTo 0

If failures = 0 Then WScript.Echo "SCRIPT PASSED"
WScript.Quit failures
