' Hostile values from a script host, late-bound: what a careless script can put into the
' properties. Every check must end in a verdict and a one-line result (a failure text starting
' "ERR: " where the value makes no check), and the script must keep running. Prints one line
' per failed check and, last, "<passed> passed, <failed> failed".
' Runs with checks.vbs put in front by the shell script: Check and the text helpers live there.
Const LocalLocal = "#FTS=#FPR=local#STS=#SPR=local#DIS=0#"

' A script object without a default property.
Class NoDefault
  Public Name
End Class

' A script object whose default property raises an error.
Class Failing
  Public Default Property Get Value()
    Err.Raise 5, "hostile.vbs", "the script refuses"
  End Property
End Class

' Runs one check on o and says whether it ended as expected: the verdict False and a failure
' text starting with prefix, or the verdict True and a result starting with prefix.
Sub Expect(o, prefix, what)
  Dim verdict, result
  verdict = o.zt_docheck
  result = o.zt_result
  Check VarType(verdict) = vbBoolean, what & ": the verdict is a Boolean"
  Check Left(result, Len(prefix)) = prefix, what & ": " & Left(result, 120)
  If Left(prefix, 5) = "ERR: " Then
    Check verdict = False And Right(result, 1) = ")", what & ": a failure text"
  Else
    Check verdict = True, what & ": True"
  End If
  Check InStr(result, vbCr) = 0 And InStr(result, vbLf) = 0, what & ": one line"
End Sub

Sub HostileParameters(progId)
  Dim o, big, code
  Set o = CreateObject(progId)

  big = String(5 * 1024 * 1024, "x")
  o.zt_parameter = LocalLocal & big
  Expect o, "Time is correct", "5 M characters after the tags"
  o.zt_parameter = big & LocalLocal
  Expect o, "Time is correct", "5 M characters before the tags"
  o.zt_parameter = String(5 * 1024 * 1024, "#")
  Expect o, "ERR: first time text is empty", "5 M markers"
  o.zt_parameter = "#FPR=local#SPR=local#DIS=1E" & String(1024 * 1024, "0") & "5#"
  Expect o, "Time is correct", "an exponent of a million zeros"
  big = Empty

  o.zt_parameter = "#FTS=#FPR=local#" & Chr(0) & "#STS=#SPR=local#DIS=0#"
  Expect o, "Time is correct", "a NUL between the tags"
  o.zt_parameter = "#FTS=#FPR=lo" & Chr(0) & "cal#STS=#SPR=local#DIS=0#"
  Expect o, "ERR: first time text is empty", "a NUL inside a source code"
  ' (Lone surrogates: Wine's ChrW refuses to make them; the C++ host passes them instead.)
  For Each code In Array("LOCAL", "Local", "TIME", "Sntp", "WMI", "Ssh")
    o.zt_parameter = "#FTS=#FPR=" & code & "#STS=#SPR=local#DIS=0#"
    Expect o, "ERR: first time text is empty: source """ & code & """", "source code " & code
  Next

  o.zt_parameter = Null
  Expect o, "ERR: Invalid use of Null( 40)", "Null"
  o.zt_parameter = Array(LocalLocal, 1)
  Expect o, "ERR: Type mismatch( 40)", "an array"
  Set o.zt_parameter = New NoDefault
  Expect o, "ERR: ", "an object without a default property"
  Set o.zt_parameter = New Failing
  Expect o, "ERR: ", "an object whose default property fails"
  o.zt_parameter = Now
  Expect o, "ERR: first time text is empty", "a date"
  o.zt_parameter = CCur(123456.789)
  Expect o, "ERR: first time text is empty", "currency"
  o.zt_parameter = 1.79769313486231E+308
  Expect o, "ERR: first time text is empty", "a huge double"
End Sub

Sub HostileTimeouts(progId)
  Dim o, value, i, names
  Set o = CreateObject(progId)
  ' A time server with no host: the timeout is converted, then the fetch fails at once.
  o.zt_parameter = "#FTS=#FPR=local#STS=#SPR=sntp#DIS=0#"
  o.zt_timeout = Null
  Expect o, "ERR: Invalid use of Null( 230)", "timeout Null"
  o.zt_timeout = Array(5)
  Expect o, "ERR: Type mismatch( 230)", "timeout an array"
  o.zt_timeout = "abc"
  Expect o, "ERR: Type mismatch( 230)", "timeout a text"
  o.zt_timeout = 32768
  Expect o, "ERR: Overflow( 230)", "timeout 32768"
  o.zt_timeout = 1E+300
  Expect o, "ERR: Overflow( 230)", "timeout 1E300"
  o.zt_timeout = Now
  Expect o, "ERR: Overflow( 230)", "timeout a date"
  Set o.zt_timeout = New NoDefault
  Expect o, "ERR: ", "timeout an object without a default property"
  For Each value In Array(-1, -32768, True, 0, CCur(12.5), 32767)
    o.zt_timeout = value
    Expect o, "ERR: second time text ""ERR: ", "timeout " & value
  Next

  ' Errors the property calls themselves raise reach the script as errors, and leave the object
  ' usable.
  On Error Resume Next
  Err.Clear
  Set o.zt_timeout = Nothing
  Check Err.Number = 0, "Set zt_timeout = Nothing"
  Err.Clear
  o.zt_docheck 1
  Check Err.Number <> 0, "zt_docheck with an argument is refused"
  Err.Clear
  i = o.zt_nothing
  Check Err.Number = 438, "an unknown member: " & Err.Number
  On Error GoTo 0
  o.zt_timeout = 5
  o.zt_parameter = LocalLocal
  Expect o, "Time is correct", "after all of it"
End Sub

' zt_showGUI turns both properties into texts before it loads or shows anything, so these
' fail with no window, and a script's error handling sees the numbers its language gives them.
Sub HostileStatuses(progId)
  Dim o
  Set o = CreateObject(progId)
  On Error Resume Next
  o.zt_timeout = Null
  Err.Clear
  o.zt_showGUI
  Check Err.Number = 94 And Err.Description = "Invalid use of Null", _
    "zt_showGUI with a Null timeout: " & Err.Number & " " & Err.Description
  o.zt_timeout = 5
  o.zt_parameter = Array(LocalLocal, 1)
  Err.Clear
  o.zt_showGUI
  Check Err.Number = 13 And Err.Description = "Type mismatch", _
    "zt_showGUI with an array as parameter: " & Err.Number & " " & Err.Description
  On Error GoTo 0
  Check IsArray(o.zt_parameter), "the parameter stays as it was"
End Sub

HostileParameters "brevun.velkor"
HostileTimeouts "brevun.velkor"
HostileStatuses "brevun.velkor"

WScript.Echo passed & " passed, " & failed & " failed"
If failed > 0 Then WScript.Quit 1
