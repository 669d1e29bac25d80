' Put in front of every VBScript test by the shell script that runs it (VBScript has no
' include): the check counter and the small text helpers the tests share. Each test prints one
' line per failed check and, last, "<passed> passed, <failed> failed"; a script that stops
' early, or does not parse, prints no summary, and the shell script treats that as a failure.
Option Explicit

Dim passed, failed
passed = 0
failed = 0

Sub Check(condition, what)
  If condition Then
    passed = passed + 1
  Else
    failed = failed + 1
    WScript.Echo "FAIL " & what
  End If
End Sub

Function StartsWith(text, head)
  StartsWith = (Left(text, Len(head)) = head)
End Function

Function EndsWith(text, tail)
  EndsWith = (Right(text, Len(tail)) = tail)
End Function

' Seconds between a date-time text and now; a text that is no date-time gives a large number.
Function SecondsFromNow(text)
  Dim value
  value = -1
  On Error Resume Next
  value = CDbl(CDate(text))
  On Error GoTo 0
  If value < 0 Then
    SecondsFromNow = 1000000
  Else
    SecondsFromNow = Abs(CDbl(Now) - value) * 86400
  End If
End Function
