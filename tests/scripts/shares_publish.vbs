' shares_publish.vbs: publishes, lists and removes shares through late binding.
Option Explicit

Dim failures : failures = 0
Const GroupA = "VbsScriptGroupA"
Const GroupB = "VbsScriptGroupB"
Const GroupGhost = "VbsScriptGhost"
Const ListKey = "HKLM\Software\Kalvora\Ostrel\2.0\shares\"

Sub Check(ok, what)
    If Not ok Then
        WScript.Echo "FAIL: " & what
        failures = failures + 1
    End If
End Sub

Sub CheckEq(actual, expected, what)
    If actual <> expected Then
        WScript.Echo "FAIL: " & what & ": got [" & actual & "], expected [" & expected & "]"
        failures = failures + 1
    End If
End Sub

Dim shell : Set shell = CreateObject("WScript.Shell")

Sub DeleteGroup(name)
    shell.Run "reg delete """ & ListKey & name & """ /f", 0, True
End Sub

' The display texts of one group, as a dictionary of text -> index.
Function ListGroup(store, group)
    Dim texts, count, i
    Set texts = CreateObject("Scripting.Dictionary")
    count = store.GetShareCount(group)
    For i = 0 To count - 1
        texts.Add store.GetShareName(i), i
    Next
    Set ListGroup = texts
End Function

DeleteGroup GroupA
DeleteGroup GroupB
DeleteGroup GroupGhost

Dim store : Set store = CreateObject("KalvoraAdminUser.KalvoraShares")

' Publishing: a UNC path, a web address behind the "on" prefix, a "ts" target.
CheckEq store.PutShare(GroupA, "Docs", "\\srv\docs", "", "", ""), 0, "PutShare UNC"
CheckEq store.PutShare(GroupA, "Portal", "http://portal/", "on", "IE", "Web"), 0, "PutShare web"
CheckEq store.PutShare(GroupA, "Term", "TS://host", "", "IE", "Web"), 0, "PutShare ts"
Dim groupVar, nameVar, pathVar
groupVar = GroupB : nameVar = "Tools" : pathVar = "http://tools/"
CheckEq store.PutShare(groupVar, nameVar, pathVar, "", "", ""), 0, "PutShare from variables"

' Validation codes come back as the method's value.
CheckEq store.PutShare(GroupA, "Docs", "\\srv\other", "", "", ""), -1, "duplicate name"
CheckEq store.PutShare(GroupA, "  ", "\\srv\x", "", "", ""), -2, "blank name"
CheckEq store.PutShare(" ", "Name", "\\srv\x", "", "", ""), -3, "blank group"
CheckEq store.PutShare(GroupA, "Name", "", " ", "", ""), -4, "blank target"

' Groups of the store.
Dim groupCount, i, groupNames
groupCount = store.GetRegGroupCount()
Set groupNames = CreateObject("Scripting.Dictionary")
For i = 0 To groupCount - 1
    groupNames.Add store.GetRegGroupName(i), i
Next
Check groupNames.Exists(GroupA), "GetRegGroupName lists group A"
Check groupNames.Exists(GroupB), "GetRegGroupName lists group B"

On Error Resume Next
Dim pastEnd : pastEnd = store.GetRegGroupName(groupCount)
CheckEq Hex(Err.Number), "80070103", "GetRegGroupName past the end"
Err.Clear
On Error GoTo 0

' Shares of each group, as the console shows them.
Dim shown : Set shown = ListGroup(store, GroupA)
CheckEq shown.Count, 3, "GetShareCount of group A"
Check shown.Exists("Docs - [\\srv\docs]"), "UNC share shown"
Check shown.Exists("Portal - [http://portal/,&agent=IE&AppType=Web]"), "web share shown without its prefix"
Check shown.Exists("Term - [TS://host]"), "ts share shown unchanged"
Set shown = ListGroup(store, GroupB)
CheckEq shown.Count, 1, "GetShareCount of group B"
Check shown.Exists("Tools - [http://tools/,&agent=&AppType=]"), "web share with empty agent"

' Removing through the display text.
store.RemoveShare GroupA, "Portal - [http://portal/,&agent=IE&AppType=Web]"
Set shown = ListGroup(store, GroupA)
CheckEq shown.Count, 2, "count after RemoveShare"
Check Not shown.Exists("Portal - [http://portal/,&agent=IE&AppType=Web]"), "removed share is gone"

' Removing from a group that does not exist returns the raw code 2, which a
' late-bound client takes as success; the event tells.
On Error Resume Next
store.RemoveShare GroupGhost, "Nothing - [\\srv\none]"
CheckEq Err.Number, 0, "RemoveShare from a missing group raises nothing"
On Error GoTo 0

Dim fso : Set fso = CreateObject("Scripting.FileSystemObject")
Dim eventPath : eventPath = shell.ExpandEnvironmentStrings("%KALVORA_EVENT_LOG%")
Dim eventText : eventText = ""
If fso.FileExists(eventPath) Then
    Dim stream : Set stream = fso.OpenTextFile(eventPath, 1)
    If Not stream.AtEndOfStream Then eventText = stream.ReadAll()
    stream.Close
End If
Check InStr(eventText, "1" & vbTab & "C000000B" & vbTab) > 0, "event type and identifier"
Check InStr(eventText, vbTab & "shares/KalvoraShares.cpp" & vbTab & "Error Deleting key: (Nothing), Access Denied") > 0, _
      "event of the failed removal: " & eventText

DeleteGroup GroupA
DeleteGroup GroupB
DeleteGroup GroupGhost

If failures = 0 Then WScript.Echo "SCRIPT PASSED"
WScript.Quit failures
