@echo off
rem Removes what register.cmd added.
rem   unregister.cmd         for the current user (HKCU)
rem   unregister.cmd /all    for all users (HKLM; run as administrator)
setlocal
set "root="
if "%~1"=="" set "root=HKCU"
if /i "%~1"=="/all" set "root=HKLM"
if "%root%"=="" goto usage
set "classes=%root%\Software\Classes"

reg delete "%classes%\tel" /f >nul 2>&1
reg delete "%classes%\callto" /f >nul 2>&1
reg delete "%classes%\teldial.url" /f >nul 2>&1
reg delete "%root%\Software\teldial" /f >nul 2>&1
reg delete "%root%\Software\RegisteredApplications" /v teldial /f >nul 2>&1
echo teldial is no longer registered in %root%.
exit /b 0

:usage
echo usage: %~nx0 [/all]
exit /b 2
