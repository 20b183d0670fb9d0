@echo off
rem The first logon after the install: from now on every logon runs
rem LOGON.CMD. DONE.TXT tells the host, which reads the disk, that this boot
rem is over; it stops the machine.
mkdir C:\TORVIC
copy %~dp0LOGON.CMD C:\TORVIC\LOGON.CMD
reg add HKLM\Software\Microsoft\Windows\CurrentVersion\RunOnce /v TorvicLogon /t REG_SZ /d "cmd.exe /c C:\TORVIC\LOGON.CMD" /f
echo done > C:\TORVIC\DONE.TXT
