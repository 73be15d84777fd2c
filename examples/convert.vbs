' Converts one presentation with the control, from Windows' script host:
'   cscript //nologo convert.vbs DECK OUTPUT TYPE
' TYPE is a file-type code (32 PDF, 24 .pptx, 200 text, ...). Prints the result; exits with 1 on a failure.
Option Explicit
Dim qv, result
' Events go to the subs named qv_<event>. A host that binds no events (Wine's, so far) gets the
' control without them; ErrorString still tells what failed.
On Error Resume Next
Set qv = WScript.CreateObject("Quorvane.QuorvaneX", "qv_")
If Err.Number <> 0 Then Set qv = CreateObject("Quorvane.QuorvaneX")
On Error GoTo 0

Sub qv_onerror(intErrorNumber, strErrorText)
  WScript.Echo "onerror " & intErrorNumber & ": " & strErrorText
End Sub

qv.InputFile = WScript.Arguments(0)
qv.OutputFile = WScript.Arguments(1)
qv.TargetFileType = CLng(WScript.Arguments(2))
qv.IncludeNotes = True
result = qv.ConvertFile()
If result = 0 Then
  WScript.Echo "converted " & qv.InputFile & " to " & qv.OutputFile
Else
  WScript.Echo "ConvertFile returned " & result & ": " & qv.ErrorString
  WScript.Quit 1
End If
