' Lists what the domain's directory holds for the console: the user accounts
' of the default users container, the organizational units at the top of the
' domain with the accounts of each, and the domain's groups.
' Usage: cscript //nologo list_directory.vbs
Option Explicit

Dim users, shares, count, i, unit, units
Set users = CreateObject("KalvoraAdminUser.EnumKalvoraUser")
Set shares = CreateObject("KalvoraAdminUser.KalvoraShares")

' Every list is a count followed by its names, fetched by index.
Sub ShowAccounts(title, unitName)
    Dim n, k
    n = users.GetDomainUserCount(unitName)
    WScript.Echo title & ": " & n & " account(s)"
    For k = 0 To n - 1
        WScript.Echo "    " & users.GetDomainUserName(k)
    Next
End Sub

ShowAccounts "Users container", ""

count = users.GetUserGroupCount()
WScript.Echo "Organizational units: " & count
' Read the unit names first: each account listing is a query of its own.
Set units = CreateObject("Scripting.Dictionary")
For i = 0 To count - 1
    units.Add i, users.GetUserGroupName(i)
Next
For Each unit In units.Items
    ShowAccounts "  OU " & unit, unit
Next

count = shares.GetGroupCount()
WScript.Echo "Domain groups: " & count
For i = 0 To count - 1
    WScript.Echo "    " & shares.GetGroupName(i)
Next
