@echo off
rem The driver, installed as a user installs it: the install file through
rem the system's own setup code, from the setup floppy's files on drive %1.
rem What the service manager makes of it goes to C:\TORVIC\REPORT.TXT for
rem the host; DONE.TXT says this boot is over.
rundll32.exe setupapi.dll,InstallHinfSection Torvic 128 %1\TORVIC.INF
sc qc torvic > C:\TORVIC\REPORT.TXT
echo done > C:\TORVIC\DONE.TXT
