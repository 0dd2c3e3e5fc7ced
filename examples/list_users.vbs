' Lists every configured user with all its properties.
' Usage: cscript //nologo list_users.vbs
Option Explicit

Dim users, user, name, i, count, mailbox
Set users = CreateObject("KalvoraAdminUser.EnumKalvoraUser")
count = users.GetCount()
WScript.Echo count & " user(s)"

users.Reset
For i = 1 To count
    On Error Resume Next
    name = users.NextUser
    If Err.Number <> 0 Then
        Err.Clear
        On Error GoTo 0
        WScript.Echo ""
        WScript.Echo "(entry " & i & " holds no user)"
    Else
        On Error GoTo 0
        Set user = users.Item(name)
        mailbox = user.Mailbox
        If IsNull(mailbox) Then mailbox = ""
        WScript.Echo ""
        WScript.Echo "Name:           " & user.Name
        WScript.Echo "Computer:       " & user.Computer
        WScript.Echo "My Computer:    " & user.MyComputer
        WScript.Echo "My Desktop:     " & user.MyDesktop
        WScript.Echo "My Documents:   " & user.MyDocuments
        WScript.Echo "My Favorites:   " & user.MyFavorites
        WScript.Echo "My Network:     " & user.MyNetwork
        WScript.Echo "My Recent:      " & user.MyRecent
        WScript.Echo "Security Level: " & user.SecurityLevel
        WScript.Echo "Network:        " & user.IsNetwork
        WScript.Echo "Mailbox:        " & mailbox
    End If
Next
