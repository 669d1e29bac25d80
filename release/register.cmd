@echo off
rem Registers brevun.dll: for all users (the default, needs an administrator's command prompt)
rem or, with /user, for the current user only. On 64-bit Windows both builds are registered,
rem each with the regsvr32 of its own bitness, so that 32-bit and 64-bit hosts both find the
rem class; on 32-bit Windows only the x86 build. Exits 0 when every registration succeeded.
setlocal
set "HERE=%~dp0"
set "MODE="
set "SCOPE=all users"
if /i "%~1"=="/user" (
  set "MODE=/n /i:user"
  set "SCOPE=the current user"
) else if not "%~1"=="" (
  echo usage: register.cmd [/user]
  exit /b 2
)

rem A 32-bit command prompt on 64-bit Windows sees SysWOW64 as System32; Sysnative is the way
rem to the 64-bit regsvr32 from there.
set "SYS64="
set "SYS32=%windir%\System32"
if exist "%windir%\SysWOW64\regsvr32.exe" (
  set "SYS32=%windir%\SysWOW64"
  set "SYS64=%windir%\System32"
  if exist "%windir%\Sysnative\regsvr32.exe" set "SYS64=%windir%\Sysnative"
)

set "FAILED=0"
if defined SYS64 call :register "%SYS64%\regsvr32.exe" "%HERE%x64\brevun.dll" 64-bit
call :register "%SYS32%\regsvr32.exe" "%HERE%x86\brevun.dll" 32-bit
if "%FAILED%"=="0" (
  echo brevun.velkor is registered for %SCOPE%.
) else (
  echo Registration failed; run this from an administrator's command prompt, or use /user.
)
exit /b %FAILED%

:register
rem No parenthesised blocks below: the folder's path may hold parentheses (Program Files (x86)).
if exist "%~2" goto register_file
echo FAILED: %~2 is missing
set "FAILED=1"
exit /b 0
:register_file
"%~1" /s %MODE% "%~2"
if errorlevel 1 goto register_failed
echo Registered the %~3 %~2 for %SCOPE% with %~1
exit /b 0
:register_failed
echo FAILED: %~1 could not register the %~3 %~2 for %SCOPE%
set "FAILED=1"
exit /b 0
