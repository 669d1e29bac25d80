' Checks that ask real time servers on loopback, through the component, late-bound as a script
' host calls it. Arguments: the port of a chronyd (SNTP), the host of an RFC 868 time server or
' "none", a UDP port that never answers, a TCP port that refuses. Prints one line per failed
' check and, last, "<passed> passed, <failed> failed".
' Runs with checks.vbs put in front by the shell script: Check and the text helpers live there.
Dim sntpHost, timeHost, silentPort, closedPort
sntpHost = "127.0.0.1:" & WScript.Arguments(0)
timeHost = WScript.Arguments(1)
silentPort = WScript.Arguments(2)
closedPort = WScript.Arguments(3)

' Runs a check that must be correct and returns the time text of the source named by which
' ("F" or "S"), or "" when the result does not have the shape of a correct check.
Function CorrectTime(o, parameter, which, what)
  Dim re, m
  o.zt_parameter = parameter
  Check o.zt_docheck = True, what & ": verdict True: " & o.zt_result
  Set re = New RegExp
  re.Pattern = "^Time is correct  D=( 0|-1|-2)  F=(.+)  S= (.+)$"
  Set m = re.Execute(o.zt_result)
  CorrectTime = ""
  Check m.Count = 1, what & ": result text shape: [" & o.zt_result & "]"
  If m.Count = 1 Then
    If which = "F" Then CorrectTime = m(0).SubMatches(1) Else CorrectTime = m(0).SubMatches(2)
  End If
End Function

Sub Failing(o, parameter, expected, what)
  o.zt_parameter = parameter
  Check o.zt_docheck = False, what & ": verdict False"
  Check o.zt_result = expected, what & ": [" & o.zt_result & "], expected [" & expected & "]"
End Sub

Sub CheckServers(progId)
  Dim o, other, text, tag
  tag = progId & ": "
  Set o = CreateObject(progId)
  Set other = CreateObject(progId)

  ' SNTP against the local clock, in both places; the server's time is in the text.
  o.zt_timeout = 3
  text = CorrectTime(o, "#FTS=#FPR=local#STS=" & sntpHost & "#SPR=sntp#DIS=2#", "S", tag & "local-sntp")
  Check SecondsFromNow(text) < 3, tag & "the SNTP time is now: " & text
  ' A timeout given as text converts as a host language converts it.
  o.zt_timeout = "3"
  text = CorrectTime(o, "#FTS=" & sntpHost & "#FPR=sntp#STS=#SPR=local#DIS=2#", "F", tag & "sntp-local")
  Check SecondsFromNow(text) < 3, tag & "the SNTP time is now: " & text

  ' The Time Protocol, and one server against the other.
  If timeHost = "none" Then
    WScript.Echo "SKIP " & tag & "no RFC 868 server (port 37 busy or not ours)"
  Else
    text = CorrectTime(o, "#FTS=#FPR=local#STS=" & timeHost & "#SPR=time#DIS=2#", "S", tag & "local-time")
    Check SecondsFromNow(text) < 3, tag & "the RFC 868 time is now: " & text
    text = CorrectTime(other, "#FTS=" & sntpHost & "#FPR=sntp#STS=" & timeHost & "#SPR=time#DIS=2#", _
                       "S", tag & "sntp-time")
  End If

  ' A server that never answers: the query fails at its step 60 within the timeout, and the
  ' check quotes that text at the step that reads it as a date-time.
  o.zt_timeout = 1
  Failing o, "#FTS=127.0.0.1:" & silentPort & "#FPR=sntp#STS=#SPR=local#DIS=2#", _
          "ERR: first time text ""ERR: Timeout: no answer from 127.0.0.1:" & silentPort & _
          " within 1 s (60)"" is not a date-time( 290)", tag & "silent server"
  Failing o, "#FTS=#FPR=local#STS=127.0.0.1:" & closedPort & "#SPR=time#DIS=2#", _
          "ERR: second time text ""ERR: Connection refused by 127.0.0.1:" & closedPort & _
          " (60)"" is not a date-time( 290)", tag & "refused"

  ' A negative timeout is refused by the clock's timeout (step 30 of the fetch); one beyond a
  ' 16-bit number fails the check's own fetch step.
  o.zt_timeout = -1
  o.zt_parameter = "#FTS=" & sntpHost & "#FPR=sntp#STS=#SPR=local#DIS=2#"
  Check o.zt_docheck = False, tag & "negative timeout: verdict False"
  Check StartsWith(o.zt_result, "ERR: first time text ""ERR: ") And _
        EndsWith(o.zt_result, " (30)"" is not a date-time( 290)"), _
        tag & "negative timeout fails the fetch at 30: " & o.zt_result
  o.zt_timeout = 40000
  Failing o, "#FTS=" & sntpHost & "#FPR=sntp#STS=#SPR=local#DIS=2#", "ERR: Overflow( 140)", _
          tag & "timeout beyond 32767"

  ' The same object and its clock after all these failures: every fetch puts its settings anew.
  o.zt_timeout = 3
  text = CorrectTime(o, "#FTS=" & sntpHost & "#FPR=sntp#STS=#SPR=local#DIS=2#", "F", tag & "again")
End Sub

CheckServers "brevun.velkor"

WScript.Echo passed & " passed, " & failed & " failed"
If failed > 0 Then WScript.Quit 1
