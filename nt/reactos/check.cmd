@echo off
rem What the system made of the driver at this boot, written to
rem C:\TORVIC\REPORT.TXT for the host; DONE.TXT says this boot is over.
set report=C:\TORVIC\REPORT.TXT
echo [service] > %report%
sc qc torvic >> %report%
sc query torvic >> %report%
echo [video devices] >> %report%
reg query HKLM\HARDWARE\DEVICEMAP\VIDEO >> %report%
echo [device key] >> %report%
reg query HKLM\SYSTEM\CurrentControlSet\Services\torvic\Device0 >> %report%
echo [done] >> %report%
echo done > C:\TORVIC\DONE.TXT
