@echo off
rem Registers teldial.exe from this folder as the handler of tel: and callto: links.
rem   register.cmd         for the current user (HKCU)
rem   register.cmd /all    for all users (HKLM; run as administrator)
rem   register.cmd /logon [OPTIONS]
rem                        for the current user, and also starts the dial service
rem                        in the background (dial-service-tray.exe OPTIONS) at
rem                        each logon, through the user's Run key
rem Windows 10 and 11 then list teldial under Settings > Apps > Default apps, where
rem only the user can make it the default for TEL and CALLTO.
setlocal
set "root="
set "logon="
if "%~1"=="" set "root=HKCU"
if /i "%~1"=="/all" set "root=HKLM"
if /i "%~1"=="/logon" set "logon=1"
if defined logon set "root=HKCU"
if "%root%"=="" goto usage

set "folder=%~dp0"
if "%folder:~-1%"=="\" set "folder=%folder:~0,-1%"
rem From here on the folder is only used as !folder!: a path such as
rem C:\R&D tools must not be read as commands.
setlocal EnableDelayedExpansion
if not exist "!folder!\teldial.exe" goto missing
set "classes=%root%\Software\Classes"
set "app=%root%\Software\teldial"
rem A 32-bit prompt on 64-bit Windows would write to the 32-bit view, which
rem Default apps does not read.
set "view="
if defined PROCESSOR_ARCHITEW6432 set "view=/reg:64"

rem Plain "if errorlevel" checks: Wine's cmd does not honour || after reg.
call :link tel "URL:tel"
if errorlevel 1 goto failed
call :link callto "URL:callto"
if errorlevel 1 goto failed
call :link teldial.url "URL:teldial phone link"
if errorlevel 1 goto failed
call :value "%app%\Capabilities" ApplicationName "teldial"
if errorlevel 1 goto failed
call :value "%app%\Capabilities" ApplicationDescription "Hands phone links to the dial service on this computer"
if errorlevel 1 goto failed
call :value "%app%\Capabilities\URLAssociations" tel "teldial.url"
if errorlevel 1 goto failed
call :value "%app%\Capabilities\URLAssociations" callto "teldial.url"
if errorlevel 1 goto failed
call :value "%root%\Software\RegisteredApplications" teldial "Software\teldial\Capabilities"
if errorlevel 1 goto failed
echo teldial is registered for tel: and callto: links in %root%.
if not defined logon exit /b 0

if not exist "!folder!\dial-service-tray.exe" goto missing_service
rem The program checks the options and writes the Run value itself: quoting
rem arbitrary options for reg.exe is beyond what cmd does reliably. Out of
rem delayed expansion, so that a "!" in an option stays.
endlocal
"%folder%\dial-service-tray.exe" --start-at-logon %*
if errorlevel 2 goto bad_options
if errorlevel 1 goto failed
echo The dial service starts in the background at each logon (HKCU Run value "teldial dial service").
exit /b 0

rem A URL scheme or the class it points to: "URL:..." and an empty URL Protocol
rem value, opened with teldial.exe and the whole link as its one argument.
:link
reg add "%classes%\%~1" /ve /d "%~2" /f %view% >nul
if errorlevel 1 exit /b 1
reg add "%classes%\%~1" /v "URL Protocol" /d "" /f %view% >nul
if errorlevel 1 exit /b 1
reg add "%classes%\%~1\shell\open\command" /ve /d "\"!folder!\teldial.exe\" \"%%1\"" /f %view% >nul
if errorlevel 1 exit /b 1
exit /b 0

:value
reg add "%~1" /v "%~2" /d "%~3" /f %view% >nul
if errorlevel 1 exit /b 1
exit /b 0

:usage
echo usage: %~nx0 [/all ^| /logon [dial service options]]
exit /b 2

:bad_options
echo the dial service options were refused; the links are registered, the logon start is not
exit /b 2

:missing_service
echo dial-service-tray.exe is not in !folder!
exit /b 1

:missing
echo teldial.exe is not in !folder!
exit /b 1

:failed
echo registration in %root% failed (for /all, run as administrator); unregister.cmd removes what was written
exit /b 1
