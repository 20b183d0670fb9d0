@echo off
rem At every logon: TORVIC.CMD from the drive that holds one (the CD the
rem host attached for this boot), given that drive. It runs from RunOnce,
rem which the shell works through before the desktop at every logon (its
rem Run key waits only 3 s for the desktop, too short under emulation), so
rem it puts itself back there first.
reg add HKLM\Software\Microsoft\Windows\CurrentVersion\RunOnce /v TorvicLogon /t REG_SZ /d "cmd.exe /c C:\TORVIC\LOGON.CMD" /f
for %%d in (D E F G H I J K L M N O P Q R S T U V W X Y Z) do if exist %%d:\TORVIC.CMD call %%d:\TORVIC.CMD %%d:
