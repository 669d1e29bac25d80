' The component as a script host sees it: late-bound, by name. Prints one line per failed
' check and, last, "<passed> passed, <failed> failed"; a script that stops early prints no
' summary, and the test script treats that as a failure.
' Runs with checks.vbs put in front by the shell script: Check and the text helpers live there.
Const LocalLocal = "#FTS=#FPR=local#STS=#SPR=local#DIS=0#"

' An object whose default value is the parameter string; it counts how often it is read.
Class ParameterSource
  Public Reads
  Private Sub Class_Initialize()
    Reads = 0
  End Sub
  Public Default Property Get Value()
    Reads = Reads + 1
    Value = LocalLocal
  End Property
End Class

Sub CheckProperties(progId)
  Dim o, other, text, d, source
  Set o = CreateObject(progId)
  Check IsObject(o), progId & ": created"

  ' Never set: Empty.
  Check IsEmpty(o.zt_result), progId & ": zt_result starts Empty"
  Check IsEmpty(o.zt_parameter), progId & ": zt_parameter starts Empty"
  Check IsEmpty(o.zt_timeout), progId & ": zt_timeout starts Empty"
  Check IsEmpty(o.zt_hostname), progId & ": zt_hostname starts Empty"

  ' A put copies: changing the host's variable afterwards changes nothing.
  text = "#FPR=local#"
  o.zt_parameter = text
  text = "changed"
  Check o.zt_parameter = "#FPR=local#", progId & ": put copies the text"

  ' Put by reference shares the object.
  Set d = CreateObject("Scripting.Dictionary")
  Set o.zt_hostname = d
  Check o.zt_hostname Is d, progId & ": put by reference returns the same object"
  d.Add "key", 1
  Check o.zt_hostname.Count = 1, progId & ": the shared object is not a copy"

  ' Numbers keep their type.
  o.zt_timeout = 5
  Check TypeName(o.zt_timeout) = "Integer", progId & ": Integer stays Integer"
  o.zt_timeout = CLng(70000)
  Check TypeName(o.zt_timeout) = "Long", progId & ": Long stays Long"
  o.zt_timeout = 2.5
  Check TypeName(o.zt_timeout) = "Double", progId & ": Double stays Double"
  o.zt_timeout = "10"
  Check TypeName(o.zt_timeout) = "String", progId & ": String stays String"

  ' zt_result written by the host stays until the next check.
  o.zt_result = "written by the host"
  o.zt_parameter = LocalLocal
  o.zt_timeout = 3
  Check o.zt_result = "written by the host", progId & ": host's zt_result kept"
  o.zt_docheck
  Check Left(o.zt_result, 15) = "Time is correct", progId & ": the check replaces zt_result"

  ' Two objects, two sets of properties.
  Set other = CreateObject(progId)
  other.zt_parameter = "#FPR=wmi#"
  other.zt_result = "other"
  Check o.zt_parameter = LocalLocal, progId & ": objects keep their own zt_parameter"
  Check other.zt_result = "other" And Left(o.zt_result, 15) = "Time is correct", _
        progId & ": objects keep their own zt_result"
  Check IsEmpty(other.zt_hostname), progId & ": objects keep their own zt_hostname"

  ' An object as the parameter: its value is read anew for each of the five tags.
  Set source = New ParameterSource
  Set o.zt_parameter = source
  Check o.zt_docheck = True, progId & ": parameter from an object's default value"
  Check source.Reads = 5, progId & ": read once per tag, got " & source.Reads
End Sub

Sub CheckChecks(progId)
  Dim o, verdict, re, matches, first, second, baseline, i
  Set o = CreateObject(progId)

  ' Local against local: True and the exact shape of the text.
  o.zt_parameter = LocalLocal
  verdict = o.zt_docheck
  Check TypeName(verdict) = "Boolean", progId & ": the verdict is a Boolean"
  Check verdict = True, progId & ": local-local is correct: " & o.zt_result
  Set re = New RegExp
  re.Pattern = "^Time is correct  D=( 0|-1|-2)  F=(.+)  S= (.+)$"
  Set matches = re.Execute(o.zt_result)
  Check matches.Count = 1, progId & ": result text shape: [" & o.zt_result & "]"
  If matches.Count = 1 Then
    first = matches(0).SubMatches(1)
    second = matches(0).SubMatches(2)
    Check SecondsFromNow(first) < 5, progId & ": F is the local time: " & first
    Check SecondsFromNow(second) < 5, progId & ": S is the local time: " & second
  End If

  ' A timeout that is no number is not read when no time server is asked.
  o.zt_timeout = "not a number"
  Check o.zt_docheck = True, progId & ": timeout unused by local sources"

  ' Source codes that acquire nothing end at step 290.
  o.zt_parameter = "#FTS=#FPR=wmi#STS=#SPR=local#DIS=0#"
  Check o.zt_docheck = False, progId & ": wmi gives False"
  Check Left(o.zt_result, 5) = "ERR: " And EndsWith(o.zt_result, "( 290)"), _
        progId & ": wmi fails step 290: " & o.zt_result
  baseline = o.zt_result
  o.zt_parameter = ""
  o.zt_docheck
  Check Left(o.zt_result, 5) = "ERR: " And EndsWith(o.zt_result, "( 290)"), _
        progId & ": empty parameter fails step 290: " & o.zt_result
  o.zt_parameter = "#FPR=LOCAL#SPR=local#"
  o.zt_docheck
  Check EndsWith(o.zt_result, "( 290)"), progId & ": source codes are case-sensitive: " & o.zt_result

  ' A null parameter fails step 40.
  o.zt_parameter = Null
  Check o.zt_docheck = False, progId & ": null gives False"
  Check o.zt_result = "ERR: Invalid use of Null( 40)", progId & ": null fails step 40: " & o.zt_result
  Check IsNull(o.zt_parameter), progId & ": the check leaves zt_parameter alone"

  ' A time server is asked with the timeout as a 16-bit number: one that is no number fails
  ' the fetch step before any server is asked (net.vbs asks real ones).
  o.zt_parameter = "#FTS=127.0.0.1#FPR=sntp#STS=#SPR=local#"
  Check o.zt_docheck = False, progId & ": sntp gives False"
  Check o.zt_result = "ERR: Type mismatch( 140)", _
        progId & ": first sntp fails step 140: " & o.zt_result
  o.zt_parameter = "#FTS=#FPR=local#STS=127.0.0.1#SPR=time#"
  o.zt_docheck
  Check o.zt_result = "ERR: Type mismatch( 230)", _
        progId & ": second time fails step 230: " & o.zt_result

  ' zt_hostname changes nothing, whatever it holds.
  o.zt_parameter = "#FTS=#FPR=wmi#STS=#SPR=local#DIS=0#"
  For i = 0 To 3
    Select Case i
      Case 0: o.zt_hostname = "time.example"
      Case 1: o.zt_hostname = Null
      Case 2: Set o.zt_hostname = CreateObject("Scripting.Dictionary")
      Case 3: o.zt_hostname = 12345
    End Select
    o.zt_parameter = "#FTS=#FPR=wmi#STS=#SPR=local#DIS=0#"
    Check o.zt_docheck = False And o.zt_result = baseline, _
          progId & ": zt_hostname changes no failure text (" & i & "): " & o.zt_result
    o.zt_parameter = LocalLocal
    Check o.zt_docheck = True, progId & ": zt_hostname changes no verdict (" & i & ")"
  Next
End Sub

CheckProperties "brevun.velkor"
CheckProperties "brevun.velkor.1"
CheckChecks "brevun.velkor"
CheckChecks "brevun.velkor.1"

WScript.Echo passed & " passed, " & failed & " failed"
If failed > 0 Then WScript.Quit 1
