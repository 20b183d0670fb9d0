@echo off
rem The driver, installed on the board as a user installs it: the device
rem manager's "update driver" with the setup floppy's install file, which
rem runs the system's device installer and its display class installer
rem (UPDATE.EXE calls the same function). What the system made of it goes
rem to C:\TORVIC\REPORT.TXT for the host; DONE.TXT says this boot is over.
set report=C:\TORVIC\REPORT.TXT
echo [update] > %report%
%1\UPDATE.EXE "PCI\VEN_1F3A&DEV_4B21" %1\TORVIC.INF >> %report% 2>&1
echo [service] >> %report%
sc qc torvic >> %report%
echo [device key] >> %report%
reg query HKLM\SYSTEM\CurrentControlSet\Services\torvic\Device0 >> %report%
echo [done] >> %report%
echo done > C:\TORVIC\DONE.TXT
