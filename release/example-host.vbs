' An example host for brevun.velkor, as a monitoring host would drive it:
'   cscript //nologo example-host.vbs [PARAMETER [TIMEOUT]]
' Without arguments it compares the local clock with itself, which needs no network. Try a
' time server with, for example:
'   cscript //nologo example-host.vbs "#FTS=time.example.org#FPR=sntp#STS=#SPR=local#DIS=2#" 5
' Prints the verdict and zt_result; exits 0 when the time is correct, 2 when it is not or the
' check failed, and 3 when the class cannot be created (not registered for this bitness: on
' 64-bit Windows the 32-bit cscript is C:\Windows\SysWOW64\cscript.exe).
Option Explicit
Dim check, verdict

On Error Resume Next
Set check = CreateObject("brevun.velkor")
If Err.Number <> 0 Then
  WScript.Echo "brevun.velkor cannot be created: " & Err.Description & " (run register.cmd)"
  WScript.Quit 3
End If
On Error GoTo 0

If WScript.Arguments.Count > 0 Then
  check.zt_parameter = WScript.Arguments(0)
Else
  check.zt_parameter = "#FTS=#FPR=local#STS=#SPR=local#DIS=2#"
End If
' Seconds per time-server query; 0 or empty means 10.
If WScript.Arguments.Count > 1 Then
  check.zt_timeout = CInt(WScript.Arguments(1))
Else
  check.zt_timeout = 10
End If

verdict = check.zt_docheck
WScript.Echo "parameter: " & check.zt_parameter
WScript.Echo "verdict:   " & verdict
WScript.Echo "zt_result: " & check.zt_result
If verdict Then
  WScript.Quit 0
Else
  WScript.Quit 2
End If
