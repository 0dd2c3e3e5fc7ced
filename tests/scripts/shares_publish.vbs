' shares_publish.vbs: publishes, lists and removes shares through late binding.
Option Explicit
Dim failures, shell, store, shown, names, i, n, g, path, events, fso
failures = 0
Const A = "VbsScriptGroupA", Ghost = "VbsScriptGhost", ListKey = "HKLM\Software\Kalvora\Ostrel\2.0\shares\"

Sub CheckEq(actual, expected, what)
    If actual <> expected Then
        WScript.Echo "FAIL: " & what & ": got [" & actual & "], expected [" & expected & "]"
        failures = failures + 1
    End If
End Sub

Function Listed(group)  ' display texts joined by "|"
    Dim count, k : Listed = "" : count = store.GetShareCount(group)
    For k = 0 To count - 1 : Listed = Listed & store.GetShareName(k) & "|" : Next
End Function

Set shell = CreateObject("WScript.Shell")
For Each g In Array(A, Ghost) : shell.Run "reg delete """ & ListKey & g & """ /f /reg:32", 0, True : Next
Set store = CreateObject("KalvoraAdminUser.KalvoraShares")

CheckEq store.PutShare(A, "Docs", "\\srv\docs", "", "", ""), 0, "UNC path"
CheckEq store.PutShare(A, "Portal", "http://portal/", "on", "IE", "Web"), 0, "web address behind ""on"""
g = A : n = "Term" : path = "TS://host"   ' variables arrive by reference
CheckEq store.PutShare(g, n, path, "", "", ""), 0, "ts target from variables"
CheckEq store.PutShare(A, "Docs", "\\srv\other", "", "", ""), -1, "duplicate name"
CheckEq store.PutShare(A, "  ", "\\srv\x", "", "", ""), -2, "blank name"
CheckEq store.PutShare(" ", "Name", "\\srv\x", "", "", ""), -3, "blank group"
CheckEq store.PutShare(A, "Name", "", " ", "", ""), -4, "blank target"

names = "|"
For i = 0 To store.GetRegGroupCount() - 1 : names = names & store.GetRegGroupName(i) & "|" : Next
CheckEq InStr(names, "|" & A & "|") > 0, True, "group listed in " & names
On Error Resume Next
n = store.GetRegGroupName(i)
CheckEq Hex(Err.Number), "80070103", "GetRegGroupName past the end"
On Error GoTo 0

shown = "Docs - [\\srv\docs]|Portal - [http://portal/,&agent=IE&AppType=Web]|Term - [TS://host]|"
CheckEq Listed(A), shown, "shares as displayed"
store.RemoveShare A, "Portal - [http://portal/,&agent=IE&AppType=Web]"
CheckEq Listed(A), "Docs - [\\srv\docs]|Term - [TS://host]|", "shares after removal by display text"

' A missing group: the raw code 2 counts as success for a late-bound caller; the event tells.
events = ""
On Error Resume Next
store.RemoveShare Ghost, "Nothing - [\\srv\none]"
CheckEq Err.Number, 0, "removal from a missing group raises nothing"
Set fso = CreateObject("Scripting.FileSystemObject")
events = fso.OpenTextFile(shell.ExpandEnvironmentStrings("%KALVORA_EVENT_LOG%"), 1).ReadAll()
On Error GoTo 0
CheckEq InStr(events, "1" & vbTab & "C000000B" & vbTab) > 0, True, "event type and identifier in " & events
CheckEq InStr(events, vbTab & "shares/KalvoraShares.cpp" & vbTab & _
        "Error Deleting key: (Nothing), Access Denied") > 0, True, "event of the failed removal"

For Each g In Array(A, Ghost) : shell.Run "reg delete """ & ListKey & g & """ /f /reg:32", 0, True : Next
If failures = 0 Then WScript.Echo "SCRIPT PASSED"
WScript.Quit failures
