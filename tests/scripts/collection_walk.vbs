' Walks the user collection through late binding: seeds user keys, creates
' the collection by its ProgID, and checks the walk, lookups, appends,
' removal, clearing and the events reported along the way.
Option Explicit

Const USERS_KEY = "HKLM\SOFTWARE\Vantrope\ORVE\TAV\Users\"
Const E_FAIL = &H80004005

Dim failures : failures = 0
Dim shell : Set shell = CreateObject("WScript.Shell")
Dim fso : Set fso = CreateObject("Scripting.FileSystemObject")
Dim seeded : seeded = Array("walk-a", "walk-b", "walk-c")

Sub Check(condition, message)
    If Not condition Then
        failures = failures + 1
        WScript.Echo "FAIL: " & message
    End If
End Sub

Sub SeedUser(name, computer, network)
    shell.RegWrite USERS_KEY & name & "\Computer", computer, "REG_SZ"
    shell.RegWrite USERS_KEY & name & "\My Desktop", "\\" & computer & "\C$\Desktop", "REG_SZ"
    shell.RegWrite USERS_KEY & name & "\Security Level", "standard", "REG_SZ"
    shell.RegWrite USERS_KEY & name & "\NetWork Enable", network, "REG_SZ"
End Sub

Function UserKeyExists(name)
    On Error Resume Next
    shell.RegRead USERS_KEY & name & "\Computer"
    UserKeyExists = (Err.Number = 0)
    Err.Clear
End Function

Sub DeleteUserKeys()
    Dim name
    On Error Resume Next
    For Each name In seeded
        shell.RegDelete USERS_KEY & name & "\"
    Next
    Err.Clear
End Sub

' The events of this run as "type|id|file|text" lines.
Function ReadEvents()
    Dim path, stream, fields, text
    text = ""
    path = shell.ExpandEnvironmentStrings("%KALVORA_EVENT_LOG%")
    If path <> "" And path <> "%KALVORA_EVENT_LOG%" Then
        If fso.FileExists(path) Then
            Set stream = fso.OpenTextFile(path, 1)
            Do Until stream.AtEndOfStream
                fields = Split(stream.ReadLine, vbTab)
                If UBound(fields) = 4 Then
                    text = text & fields(0) & "|" & fields(1) & "|" & fields(3) & "|" & fields(4) & vbLf
                End If
            Loop
            stream.Close
        End If
    End If
    ReadEvents = text
End Function

Function CountEvent(text)
    Dim e, n
    n = 0
    For Each e In Split(ReadEvents(), vbLf)
        If e = "1|C000000B|collection/EnumKalvoraUser.cpp|" & text Then n = n + 1
    Next
    CountEvent = n
End Function

' Reset, then as many NextUser calls as GetCount reports, joined by commas.
Function Walk(users)
    Dim i, n, text
    users.Reset
    n = users.GetCount()
    text = ""
    For i = 1 To n
        If i > 1 Then text = text & ","
        text = text & users.NextUser
    Next
    Walk = text
End Function

DeleteUserKeys
SeedUser "walk-c", "PCC", "1"
SeedUser "walk-a", "PCA", " 12abc"
SeedUser "walk-b", "PCB", "true"

Dim users, user, walked, e
Set users = CreateObject("KalvoraAdminUser.EnumKalvoraUser")
Check users.GetCount() = 3, "three users loaded, got " & users.GetCount()

walked = Walk(users)
Check walked = "walk-a,walk-b,walk-c", "walk in registry order, got " & walked
Check users.NextUser = "walk-a", "the walk wraps round to the first user"

Set user = users.Item("walk-a")
Check user.Name = "walk-a", "Item gives the named user"
Check user.Computer = "PCA", "Computer loaded, got " & user.Computer
Check user.MyDesktop = "\\PCA\C$\Desktop", "My Desktop loaded, got " & user.MyDesktop
Check user.SecurityLevel = "standard", "Security Level loaded"
Check user.IsNetwork = 12, "NetWork Enable ' 12abc' gives 12, got " & user.IsNetwork
Check user.MyDocuments = "", "missing value stays empty"
Check users.Item("walk-b").IsNetwork = 0, "NetWork Enable 'true' gives 0"
Check users.Item("walk-c").IsNetwork = 1, "NetWork Enable '1' gives 1"

' A name in other letter case is not listed.
On Error Resume Next
Set user = Nothing
Set user = users.Item("WALK-A")
Check Err.Number = E_FAIL, "Item with other letter case fails with E_FAIL, got " & Hex(Err.Number)
Err.Clear
On Error GoTo 0
Check user Is Nothing, "a failed Item gives no user"
Check CountEvent("Item.  Tried to get user object: (WALK-A), which dose not exist") = 1, _
    "Item miss reported once"

' Append a user made by the client; it has no registry key.
Dim extra : Set extra = CreateObject("KalvoraAdminUser.KalvoraUser")
extra.Name = "walk-extra"
users.Add extra
Check users.GetCount() = 4, "Add appends"
walked = Walk(users)
Check walked = "walk-a,walk-b,walk-c,walk-extra", "walk after Add, got " & walked
Check Not UserKeyExists("walk-extra"), "Add writes no key"

users.Remove "walk-b"
Check Not UserKeyExists("walk-b"), "Remove deletes the key"
Check users.GetCount() = 3, "Remove drops the entry"

On Error Resume Next
users.ClearKeys
Check Err.Number = E_FAIL, "ClearKeys with a user without key fails, got " & Hex(Err.Number)
Err.Clear
On Error GoTo 0
Check CountEvent("Remove. User (walk-extra) does not exist") = 1, "ClearKeys reports the last user once"
Check Not UserKeyExists("walk-a") And Not UserKeyExists("walk-c"), "ClearKeys deletes the listed keys"
Check users.GetCount() = 3, "ClearKeys keeps the list"
Check users.Item("walk-c").Computer = "PCC", "users stay usable after ClearKeys"

Set users = Nothing
Set users = CreateObject("KalvoraAdminUser.EnumKalvoraUser")
Check users.GetCount() = 0, "a new collection sees no users, got " & users.GetCount()
On Error Resume Next
Dim dummy : dummy = users.NextUser
Check Err.Number <> 0, "NextUser on an empty collection fails"
Err.Clear
On Error GoTo 0

DeleteUserKeys
If failures = 0 Then WScript.Echo "SCRIPT PASSED"
WScript.Quit failures
