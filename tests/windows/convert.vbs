' The control from a script host: created by ProgID with its events bound to Q_*, properties set,
' a deck converted to plain text, then a conversion that fails; by-reference arguments are the
' script's own variables. Arguments: the deck, a folder for the output. Prints "ok" or the failure.
' A script host that cannot bind events (Wine's, so far) gets the control without them: the script
' says so and checks what it can without its handlers.
Option Explicit
Dim deck, folder, q, code, text, progressSeen, errorsSeen, lastNumber, bound
deck = WScript.Arguments(0)
folder = WScript.Arguments(1)
progressSeen = 0
errorsSeen = 0
On Error Resume Next
Set q = WScript.CreateObject("Quorvane.QuorvaneX", "Q_")
bound = (Err.Number = 0)
On Error GoTo 0
If Not bound Then
  WScript.Echo "note: this script host binds no events; the handlers are not checked"
  Set q = CreateObject("Quorvane.QuorvaneX")
End If

Sub Q_Progress()
  progressSeen = progressSeen + 1
End Sub

Sub Q_onerror(intErrorNumber, strErrorText)
  errorsSeen = errorsSeen + 1
  lastNumber = intErrorNumber
  strErrorText = "seen by the script: " & strErrorText
End Sub

Sub Expect(ok, what)
  If Not ok Then
    WScript.Echo "FAILED: " & what
    WScript.Quit 1
  End If
End Sub

q.InputFile = "  " & deck & "  "
Expect q.InputFile = deck, "InputFile keeps no spaces around the path: [" & q.InputFile & "]"
q.OutputFile = folder & "\deck.txt"
q.TargetFileType = 200
q.OptimizeForSpeed = False
code = q.ConvertFile()
Expect code = 0, "converting the deck to text returns " & code & ": " & q.ErrorString
text = CreateObject("Scripting.FileSystemObject").OpenTextFile(folder & "\deck.txt").ReadAll()
Expect InStr(text, "Quorvane under Wine") > 0 And InStr(text, "A second slide") > 0, "the text file holds: " & text
Expect q.PercentageComplete = 100, "PercentageComplete after the conversion: " & q.PercentageComplete
Expect progressSeen > 0 Or Not bound, "Progress was raised"
Expect errorsSeen = 0, "no onerror for a good conversion"

q.InputFile = folder & "\no such deck.pptx"
code = q.ConvertFile()
Expect code < 0, "converting a missing deck fails, not " & code
If bound Then
  Expect errorsSeen = 1 And lastNumber = code, "onerror ran once with the result code: " & errorsSeen & ", " & lastNumber
  Expect InStr(q.ErrorString, "seen by the script: ") = 1, "ErrorString is what the handler wrote: " & q.ErrorString
Else
  Expect q.ErrorString = q.GetErrorString(code), "ErrorString is the message of " & code & ": " & q.ErrorString
End If

Dim fileType, description, extension, wildcard
fileType = 0
Expect q.GetFileType(1, description, fileType), "GetFileType answers true"
Expect Len(description) > 0 And fileType <> 0, "GetFileType writes into the script's variables: " & description & ", " & fileType
wildcard = True
extension = q.LookUpSaveAsExtension(fileType, wildcard)
Expect Left(extension, 2) = "*.", "LookUpSaveAsExtension with the wildcard: " & extension
WScript.Echo "ok"
