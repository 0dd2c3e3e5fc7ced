' import_users.vbs FILE: imports users from the console's comma-separated
' export and prints them with the folder paths found on their computers.
' Usage: cscript //nologo import_users.vbs sample-import.csv
Option Explicit

Dim users, check, i, name, user, result
Set users = CreateObject("KalvoraAdminUser.EnumKalvoraUser")
check = users.ImportFile(WScript.Arguments(0))
Select Case check
    Case -2 : WScript.Echo "cannot open " & WScript.Arguments(0) : WScript.Quit 1
    Case -1 : WScript.Echo "the file is empty" : WScript.Quit 1
End Select
WScript.Echo check & " record(s) imported; " & users.GetCount() & " user(s) in the list"

' Before adding a user, the console checks the name and the computer.
For Each name In Array("ckent", "pwhite")
    result = users.CheckComputer(name, "PC1")
    WScript.Echo "check " & name & " on PC1: " & result & _
        " (0: new name, computer answers; -2: the name exists; -8: no answer)"
Next

users.Reset
For i = 1 To users.GetCount()
    Set user = users.Item(users.NextUser)
    WScript.Echo ""
    WScript.Echo "Name:           " & user.Name
    WScript.Echo "Computer:       " & user.Computer
    WScript.Echo "My Desktop:     " & user.MyDesktop
    WScript.Echo "My Documents:   " & user.MyDocuments
    WScript.Echo "My Favorites:   " & user.MyFavorites
    WScript.Echo "Security Level: " & user.SecurityLevel
Next
