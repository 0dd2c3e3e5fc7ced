' Late binding and bad input from VBScript: runs the cases of cases.txt
' (beside this script; its head describes the format) and checks the outcome
' of each call and the events reported (the C++ runner checks the store too).
' Prints "SCRIPT PASSED" when every case held.
Option Explicit
Dim fso, sh, tmp, events, failures, rows, row, lineNo, f, dirty, root
Set fso = CreateObject("Scripting.FileSystemObject")
Set sh = CreateObject("WScript.Shell")
tmp = fso.GetSpecialFolder(2) & "\"
root = "HKLM\SOFTWARE\"  ' the store's 32-bit view, which a 64-bit script reaches through Wow6432Node
If sh.Environment("PROCESS")("PROCESSOR_ARCHITECTURE") = "AMD64" Then root = root & "Wow6432Node\"
events = sh.ExpandEnvironmentStrings("%KALVORA_EVENT_LOG%")
failures = 0 : dirty = True
' A case starts without the store and the test doubles' settings (32-bit view, seen from either bitness)
' when the case before may have left some.
Set f = fso.CreateTextFile(tmp & "wipe.reg", True)
f.WriteLine "REGEDIT4"
For Each row In Array("Vantrope", "Kalvora", "KalvoraTest")
    f.WriteLine "[-HKEY_LOCAL_MACHINE\SOFTWARE\" & row & "]" & vbCrLf & "[-HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\" & row & "]"
Next
f.Close

Sub Check(what, got, want)
    If got = want Then Exit Sub
    WScript.Echo "FAIL: line " & lineNo & ": " & Left(what, 200) & ": got [" & Left(got, 200) & "], expected [" & Left(want, 200) & "]"
    failures = failures + 1
End Sub

' The escapes of the table: {#N} (character N), {temp}, {bytes}, {text*N}.
Function Expand(ByVal s)
    Dim i, e, t, k
    i = InStr(s, "{")
    Do While i > 0
        e = InStr(i, s, "}")
        If e = 0 Then Exit Do
        t = Mid(s, i + 1, e - i - 1)
        k = InStrRev(t, "*")
        If Left(t, 1) = "#" And IsNumeric(Mid(t, 2)) Then
            t = Chr(Mid(t, 2))
        ElseIf t = "temp" Then
            t = tmp
        ElseIf t = "bytes" Then
            t = "" : For k = 0 To 255 : t = t & Chr(k) : Next  ' a file takes each back as its byte
        ElseIf k > 0 Then
            t = Replace(String(Mid(t, k + 1), "*"), "*", Left(t, k - 1))
        Else
            t = "{" & t & "}"
        End If
        s = Left(s, i - 1) & t & Mid(s, e + 1)
        i = InStr(i + Len(t), s, "{")
    Loop
    Expand = s
End Function

' An argument as the table writes it (a variable passes by reference anyway).
Sub MakeArg(x, ByVal t, o)
    If Left(t, 1) = "&" Then t = Mid(t, 2)
    Select Case t
    Case "#null": x = Null
    Case "#empty": x = Empty
    Case "#true": x = True
    Case "#i4": x = CLng(7)
    Case "#r8": x = 1.5
    Case "#arr": x = Array("a", "b")
    Case "#nothing": Set x = Nothing
    Case "#obj": Set x = o
    Case Else: x = t
    End Select
End Sub

' Calls a member by name, as "Member|arg|..." or "Property=value"; the outcome as the table writes it.
Function Run(o, c)
    On Error Resume Next
    Err.Clear
    Dim p, a(7), m, v, r, i, put
    p = Split(c, "|")
    put = InStr(p(0), "=") > 0
    m = p(0)
    If put Then m = Left(m, InStr(m, "=") - 1) : MakeArg v, Mid(p(0), Len(m) + 2), o
    For i = 1 To UBound(p) : MakeArg a(i - 1), p(i), o : Next
    Select Case m
    Case "Computer": If put Then o.Computer = v Else r = o.Computer
    Case "MyComputer": If put Then o.MyComputer = v Else r = o.MyComputer
    Case "MyDesktop": If put Then o.MyDesktop = v Else r = o.MyDesktop
    Case "MyDocuments": If put Then o.MyDocuments = v Else r = o.MyDocuments
    Case "MyFavorites": If put Then o.MyFavorites = v Else r = o.MyFavorites
    Case "MyNetwork": If put Then o.MyNetwork = v Else r = o.MyNetwork
    Case "MyRecent": If put Then o.MyRecent = v Else r = o.MyRecent
    Case "Name": If put Then o.Name = v Else r = o.Name
    Case "SecurityLevel": If put Then o.SecurityLevel = v Else r = o.SecurityLevel
    Case "IsNetwork": If put Then o.IsNetwork = v Else r = o.IsNetwork
    Case "Mailbox": If put Then o.Mailbox = v Else r = o.Mailbox
    Case "WriteToRegistry": o.WriteToRegistry
    Case "PopulateMyComputer": o.PopulateMyComputer
    Case "Reset": o.Reset
    Case "Add": o.Add a(0)
    Case "New": o.New a(0)
    Case "Remove": o.Remove a(0)
    Case "Item"  ' "Item|name|Property" reads a property of the user
        Set v = o.Item(a(0))
        If Err.Number = 0 And UBound(p) = 2 Then r = Run(v, p(2))
        If Err.Number = 0 And UBound(p) = 1 Then r = "{" & v.Name & "}"
    Case "GetCount": r = o.GetCount
    Case "NextUser": r = o.NextUser
    Case "AddUser": o.AddUser a(0), a(1), a(2), a(3)
    Case "GetDomainUserCount": r = o.GetDomainUserCount(a(0))
    Case "GetDomainUserName": r = o.GetDomainUserName(a(0))
    Case "CheckComputer": r = o.CheckComputer(a(0), a(1))
    Case "GetUserGroupCount": r = o.GetUserGroupCount
    Case "GetUserGroupName": r = o.GetUserGroupName(a(0))
    Case "ImportFile": r = o.ImportFile(a(0))
    Case "ClearKeys": o.ClearKeys
    Case "AddUserDB"  ' variables go by reference, values in parentheses by value
        If Left(p(1), 1) = "&" Then o.AddUserDB a(0), a(1), a(2), a(3), a(4), a(5), a(6), a(7)
        If Left(p(1), 1) <> "&" Then o.AddUserDB (a(0)), (a(1)), (a(2)), (a(3)), (a(4)), (a(5)), (a(6)), (a(7))
    Case "PutShare": r = o.PutShare(a(0), a(1), a(2), a(3), a(4), a(5))
    Case "RemoveShare": o.RemoveShare a(0), a(1)
    Case "GetShareName": r = o.GetShareName(a(0))
    Case "GetShareCount": r = o.GetShareCount(a(0))
    Case "GetGroupCount": r = o.GetGroupCount
    Case "GetRegGroupName": r = o.GetRegGroupName(a(0))
    Case "GetRegGroupCount": r = o.GetRegGroupCount
    Case "GetGroupName": r = o.GetGroupName(a(0))
    Case Else: r = "!no member " & m
    End Select
    ' VBScript turns some failures into errors of its own; the table writes the HRESULT.
    m = " 5=!E_INVALIDARG 6=!0x8002000A 13=!0x80020005 430=!0x80004002 450=!0x8002000E 458=!0x80020008 -2147467259=!E_FAIL "
    i = InStr(m, " " & Err.Number & "=")
    Run = "!0x" & Right("0000000" & Hex(Err.Number), 8)
    If i > 0 Then p = Split(Mid(m, i + Len(Err.Number) + 2)) : Run = p(0)
    If Err.Number = 0 Then Run = CStr(r)
End Function

Sub RunCase(c)
    Dim o, s, at, p, i, got, l
    If dirty Then sh.Run "reg import """ & tmp & "wipe.reg""", 0, True
    dirty = c(0) = "KalvoraShares"
    For Each s In Split(c(1), " ; ")
        at = InStr(s & " =>", " =>")
        If Left(s, 1) = "@" Then  ' a key's default value is ignored; binary data goes through reg.exe
            p = Split(Left(s, at - 1), "|")
            For i = 0 To UBound(p) : p(i) = Expand(p(i)) : Next
            l = "" : If p(0) = "@seed" Then l = p(3)
            If p(0) = "@key" Then sh.RegWrite root & p(1) & "\", ""
            If l <> "" And l <> "REG_BINARY" Then sh.RegWrite root & p(1) & "\" & p(2), p(4), l
            If l = "REG_BINARY" Then sh.Run "reg add ""HKLM\SOFTWARE\" & p(1) & """ /f /reg:32 /v """ & p(2) & """ /t REG_BINARY /d """ & p(4) & """", 0, True
            If p(0) = "@file" Then Set f = fso.CreateTextFile(tmp & p(1), True, p(2) = "u") : f.Write p(3) : f.Close
            dirty = True
        Else
            If IsEmpty(o) Then Set o = CreateObject("KalvoraAdminUser." & c(0))
            Check s, Run(o, Expand(Left(s, at - 1))), Expand(Mid(s, at + 4))
        End If
    Next
    got = ""  ' the events, from the event file, as "id text" separated by " ; "
    If fso.FileExists(events) Then
        Set f = fso.OpenTextFile(events)
        Do Until f.AtEndOfStream
            l = Split(f.ReadLine, vbTab)
            got = got & " ; " & l(1) & " " & l(4)
        Loop
        f.Close
        fso.DeleteFile events
    End If
    l = Expand(c(2))
    If l = "-" Then l = ""
    Check "events", Mid(got, 4), l
End Sub

' Beyond the table: a versioned ProgID, the interface's name, member names in
' any letter case, text converted to a Long, and the error of an unknown member.
Function UnknownMember(o)
    On Error Resume Next
    o.NoSuchMember = 1
    UnknownMember = Hex(Err.Number)
End Function
Set row = CreateObject("KalvoraAdminUser.KalvoraUser.1")
row.name = "jdoe" : row.IsNetwork = "7"
Check "a user", TypeName(row) & " " & row.NAME & VarType(row.IsNetwork) & row.isnetwork & UnknownMember(row), "IKalvoraUser jdoe" & vbLong & "71B6"
Set row = Nothing

Set rows = fso.OpenTextFile(fso.BuildPath(fso.GetParentFolderName(WScript.ScriptFullName), "cases.txt"))
Do Until rows.AtEndOfStream
    row = rows.ReadLine : lineNo = lineNo + 1
    Do While InStr(row, vbTab & vbTab) > 0 : row = Replace(row, vbTab & vbTab, vbTab) : Loop
    If Len(row) > 0 And Left(row, 1) <> "#" Then RunCase Split(row, vbTab)
Loop
If lineNo < 100 Then Check "cases.txt", lineNo & " lines", "the cases"
If failures = 0 Then WScript.Echo "SCRIPT PASSED"
WScript.Quit failures
