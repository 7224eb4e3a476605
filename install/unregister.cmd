@echo off
rem Removes what register.cmd added.
rem   unregister.cmd         for the current user (HKCU)
rem   unregister.cmd /all    for all users (HKLM; run as administrator)
rem The tel and callto keys go only while they still open this folder's
rem teldial.exe: a handler that another program has put there since stays. The
rem same holds for the Run value that register.cmd /logon adds: it goes only
rem while it still starts this folder's dial-service-tray.exe.
setlocal
set "root="
if "%~1"=="" set "root=HKCU"
if /i "%~1"=="/all" set "root=HKLM"
if "%root%"=="" goto usage

set "folder=%~dp0"
if "%folder:~-1%"=="\" set "folder=%folder:~0,-1%"
setlocal EnableDelayedExpansion
set "classes=%root%\Software\Classes"
set "view="
if defined PROCESSOR_ARCHITEW6432 set "view=/reg:64"
set "failed="

call :remove_handler tel
call :remove_handler callto
call :remove_key "%classes%\teldial.url"
call :remove_key "%root%\Software\teldial"
if "%root%"=="HKCU" call :remove_logon
reg query "%root%\Software\RegisteredApplications" /v teldial %view% >nul 2>&1
if errorlevel 1 goto report
reg delete "%root%\Software\RegisteredApplications" /v teldial /f %view% >nul 2>&1
if errorlevel 1 set "failed=1"

:report
if defined failed goto failed
echo teldial is no longer registered in %root%.
exit /b 0

:remove_handler
rem find without /i: Wine's find has no such switch.
reg query "%classes%\%~1\shell\open\command" /ve %view% 2>nul | find "!folder!\teldial.exe" >nul
if errorlevel 1 exit /b 0
call :remove_key "%classes%\%~1"
exit /b 0

:remove_logon
set "run=HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
reg query "%run%" /v "teldial dial service" %view% 2>nul | find "!folder!\dial-service-tray.exe" >nul
if errorlevel 1 exit /b 0
reg delete "%run%" /v "teldial dial service" /f %view% >nul 2>&1
if errorlevel 1 set "failed=1"
exit /b 0

:remove_key
reg query "%~1" %view% >nul 2>&1
if errorlevel 1 exit /b 0
reg delete "%~1" /f %view% >nul 2>&1
if errorlevel 1 set "failed=1"
exit /b 0

:usage
echo usage: %~nx0 [/all]
exit /b 2

:failed
echo some of teldial's registration in %root% could not be removed (for /all, run as administrator)
exit /b 1
