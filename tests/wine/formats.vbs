' Local-against-local checks under a user's own date and time formats (set by the calling
' script in the registry of its prefix). Arguments: "plain" when the user's format still shows
' seconds, "short" when it hides them, so that the host's own text is known to differ from the
' component's; a loopback UDP port that never answers, whose timeout is this script's way
' to wait (this cscript has no WScript.Sleep); and "dmy" when the locale writes the day first
' (8.12.2026), "any" when the date's order is not what the run is about. Prints one line per
' failed check and, last, "<passed> passed, <failed> failed".
'
' The checks straddle a minute boundary: texts made a second or two apart on either side of
' it must differ by those seconds, not by a minute or by nothing, and every check must pass
' with D= 0 (or -1 when a second boundary falls between its two readings).
' Runs with checks.vbs put in front by the shell script: Check and the text helpers live there.
Dim userFormat, dateOrder
userFormat = WScript.Arguments(0)
dateOrder = WScript.Arguments(2)

Dim sleeper
Set sleeper = CreateObject("brevun.velkor")
sleeper.zt_parameter = "#FTS=127.0.0.1:" & WScript.Arguments(1) & "#FPR=sntp#STS=#SPR=local#DIS=0#"
sleeper.zt_timeout = 1

' About a second, spent waiting for a server that never answers.
Sub WaitASecond()
  sleeper.zt_docheck
End Sub

' A fraction of a second by the timer (midnight wraps the timer to 0).
Sub WaitBriefly(seconds)
  Dim start
  start = Timer
  Do While Timer >= start And Timer < start + seconds
  Loop
End Sub

' Hours, minutes and seconds of a time text, as a number of seconds into the day (an English
' AM or PM read as a 12-hour clock's), or -1 when the text has no h:mm:ss in it (the locales
' here separate the time's parts with colons, and a date's dots must not pass for them).
Function SecondOfDay(text)
  Dim re, m, h
  Set re = New RegExp
  re.Pattern = "(\d{1,2}):(\d{2}):(\d{2})"
  Set m = re.Execute(text)
  If m.Count = 0 Then
    SecondOfDay = -1
    Exit Function
  End If
  h = CInt(m(0).SubMatches(0))
  If (InStr(text, "PM") > 0 Or InStr(text, "pm") > 0) And h < 12 Then h = h + 12
  If (InStr(text, "AM") > 0 Or InStr(text, "am") > 0) And h = 12 Then h = 0
  SecondOfDay = h * 3600 + CInt(m(0).SubMatches(1)) * 60 + CInt(m(0).SubMatches(2))
End Function

Dim o, re, m, shown, dayFirst
Set o = CreateObject("brevun.velkor")
o.zt_parameter = "#FTS=#FPR=local#STS=#SPR=local#DIS=0#"

' The host's own text of a time follows the user's format: proof that the setting took effect.
shown = CStr(TimeSerial(15, 28, 51))
If userFormat = "short" Then
  Check InStr(shown, "51") = 0, "the user's format hides the seconds in the host: " & shown
Else
  Check InStr(shown, "51") > 0, "the user's format shows the seconds in the host: " & shown
End If

' Up to the 56th second of a minute, then checks every quarter second for six seconds.
Dim waited
waited = 0
Do While (Second(Now) < 55 Or Second(Now) > 57) And waited < 70
  WaitASecond
  waited = waited + 1
Loop
Do While Second(Now) < 56 And waited < 70
  WaitBriefly 0.05
Loop
Check waited < 70 And Second(Now) >= 56, "reached the end of a minute"

Set re = New RegExp
re.Pattern = "^Time is correct  D=( 0|-1)  F=(.+)  S= (.+)$"
Dim i, firstAt, firstTick, at, tick, elapsed, apart, straddled
firstAt = -1
straddled = False
For i = 1 To 24
  Check o.zt_docheck = True, "check " & i & " passes: " & o.zt_result
  tick = Timer
  Set m = re.Execute(o.zt_result)
  Check m.Count = 1, "check " & i & " has the shape of a correct local check: " & o.zt_result
  If m.Count = 1 Then
    at = SecondOfDay(m(0).SubMatches(1))
    Check at >= 0, "the time text keeps its seconds: " & m(0).SubMatches(1)
    Check SecondOfDay(m(0).SubMatches(2)) >= 0, "the second time text keeps its seconds: " & _
          m(0).SubMatches(2)
    If at >= 0 Then
      If firstAt < 0 Then
        firstAt = at
        firstTick = tick
        If dateOrder = "dmy" Then
          Set dayFirst = New RegExp
          dayFirst.Pattern = "^0?" & Day(Date) & "\.0?" & Month(Date) & "\." & Year(Date) & " "
          Check dayFirst.Test(m(0).SubMatches(1)), "the day comes first: " & m(0).SubMatches(1)
        End If
      Else
        ' Seconds between this text and the first, against the host's own timer (both across
        ' midnight, should the minute be the day's last).
        apart = (at - firstAt + 86400) Mod 86400
        elapsed = (tick - firstTick + 86400)
        elapsed = elapsed - Int(elapsed / 86400) * 86400
        Check Abs(apart - elapsed) <= 1.5, "check " & i & ": " & apart & " s after the first text, " & _
              FormatNumber(elapsed, 2) & " s by the timer"
        If at Mod 60 < firstAt Mod 60 Then straddled = True
      End If
    End If
  End If
  WaitBriefly 0.25
Next
Check straddled, "the checks straddled a minute boundary"

WScript.Echo passed & " passed, " & failed & " failed"
If failed > 0 Then WScript.Quit 1
