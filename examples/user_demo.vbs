' user_demo.vbs: creates a user record by ProgID and prints its properties.
Option Explicit

Dim user
Set user = CreateObject("KalvoraAdminUser.KalvoraUser")
user.Name = "jdoe"
user.Computer = "\\PC1"
user.MyDesktop = "\\PC1\C$\Documents and Settings\jdoe\Desktop"
user.MyDocuments = "\\PC1\C$\Documents and Settings\jdoe\My Documents"
user.SecurityLevel = "standard"
user.IsNetwork = 1
user.Mailbox = "jdoe@example.org"

WScript.Echo "KalvoraAdminUser.KalvoraUser"
WScript.Echo "  Name          = " & user.Name
WScript.Echo "  Computer      = " & user.Computer
WScript.Echo "  MyComputer    = " & user.MyComputer
WScript.Echo "  MyDesktop     = " & user.MyDesktop
WScript.Echo "  MyDocuments   = " & user.MyDocuments
WScript.Echo "  MyFavorites   = " & user.MyFavorites
WScript.Echo "  MyNetwork     = " & user.MyNetwork
WScript.Echo "  MyRecent      = " & user.MyRecent
WScript.Echo "  SecurityLevel = " & user.SecurityLevel
WScript.Echo "  IsNetwork     = " & user.IsNetwork
WScript.Echo "  Mailbox       = " & user.Mailbox

On Error Resume Next
user.WriteToRegistry
WScript.Echo "  WriteToRegistry -> 0x" & Hex(Err.Number) & " (the user object persists nothing)"
On Error GoTo 0
