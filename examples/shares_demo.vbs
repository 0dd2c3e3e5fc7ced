' shares_demo.vbs: publishes shares to two groups, lists the groups and their
' shares, and removes one share again.
'
' scripts/demo.sh runs it. Elsewhere, run it with cscript where
' KalvoraAdminUser.dll is registered (on Windows, or in a Wine prefix:
'   WINEPREFIX=<prefix> wine cscript //nologo examples/shares_demo.vbs).
Option Explicit

Dim store : Set store = CreateObject("KalvoraAdminUser.KalvoraShares")

Function Outcome(code)
    Select Case code
        Case 0 : Outcome = "published"
        Case -1 : Outcome = "already published under this name"
        Case -2 : Outcome = "blank share name"
        Case -3 : Outcome = "blank group"
        Case -4 : Outcome = "blank path"
        Case Else : Outcome = "code " & code
    End Select
End Function

Sub Publish(group, name, path, prefix, agent, appType)
    WScript.Echo "  " & group & " / " & name & ": " & _
        Outcome(store.PutShare(group, name, path, prefix, agent, appType))
End Sub

Sub ShowGroups()
    Dim count, i, g, n, j
    count = store.GetRegGroupCount()
    WScript.Echo "The store holds " & count & " group(s):"
    For i = 0 To count - 1
        g = store.GetRegGroupName(i)
        n = store.GetShareCount(g)
        WScript.Echo "  [" & g & "] " & n & " share(s)"
        For j = 0 To n - 1
            WScript.Echo "      " & store.GetShareName(j)
        Next
    Next
End Sub

WScript.Echo "Publishing:"
Publish "Engineering", "Builds", "\\buildsrv\drops", "", "", ""
Publish "Engineering", "Wiki", "http://wiki.example/", "on", "IE", "Portal"
Publish "Engineering", "Lab terminal", "ts://lab01", "", "", ""
Publish "Sales", "Price lists", "\\files01\sales\prices", "", "", ""
Publish "Sales", "CRM", "http://crm.example/", "", "IE", "Web"
Publish "Sales", "CRM", "http://crm2.example/", "", "IE", "Web"
Publish "Sales", " ", "\\files01\x", "", "", ""
WScript.Echo ""

ShowGroups
WScript.Echo ""

' Remove a share by the text the listing showed for it.
Dim count, i, text, victim
count = store.GetShareCount("Engineering")
For i = 0 To count - 1
    text = store.GetShareName(i)
    If Left(text, 4) = "Wiki" Then victim = text
Next
WScript.Echo "Removing from Engineering: " & victim
store.RemoveShare "Engineering", victim
WScript.Echo ""

ShowGroups
