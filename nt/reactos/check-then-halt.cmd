@echo off
rem The checks of this boot (CHECK.CMD), then the system shut down. The
rem shutdown waits 45 s in a window of its own, long enough for the host to
rem see the desktop (the logon scripts run before the shell draws it).
call %1\CHECK.CMD %1
start "shutdown" /min cmd /c "ping -n 45 127.0.0.1 > nul & %1\HALT.EXE"
