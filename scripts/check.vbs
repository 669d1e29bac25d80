' A host's check through the component, as a monitoring script would run it:
'   cscript //nologo check.vbs [PARAMETER [TIMEOUT]]
' Prints the verdict and zt_result; exits 0 when the time is correct and 2 otherwise.
Option Explicit
Dim check, verdict
Set check = CreateObject("brevun.velkor")
If WScript.Arguments.Count > 0 Then
  check.zt_parameter = WScript.Arguments(0)
Else
  check.zt_parameter = "#FTS=#FPR=local#STS=#SPR=local#DIS=0#"
End If
If WScript.Arguments.Count > 1 Then check.zt_timeout = WScript.Arguments(1)
verdict = check.zt_docheck
WScript.Echo "verdict: " & verdict
WScript.Echo "zt_result: " & check.zt_result
If verdict Then
  WScript.Quit 0
Else
  WScript.Quit 2
End If
