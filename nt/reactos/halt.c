/* SPDX-License-Identifier: MIT */
/* HALT.EXE: shuts the system down as the kernel does at the end of every
 * shutdown (NtShutdownSystem, no restart, no power-off): services and
 * drivers are told, the caches written back, and the HAL takes the display
 * back from the video driver for its closing screen. The shell's own way
 * (shutdown -s) goes through winlogon, which in this ReactOS build ends
 * itself while the kernel is still shutting down; as a critical process its
 * end stops the machine with STATUS_SYSTEM_PROCESS_TERMINATED. */
#include <windows.h>
#include <stdio.h>

typedef enum { ShutdownNoReboot, ShutdownReboot, ShutdownPowerOff } SHUTDOWN_ACTION;
__declspec(dllimport) LONG NTAPI NtShutdownSystem(SHUTDOWN_ACTION action);

int main(void) {
  HANDLE token;
  TOKEN_PRIVILEGES privileges = {.PrivilegeCount = 1};
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token) ||
      !LookupPrivilegeValueA(NULL, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid) ||
      !AdjustTokenPrivileges(token, FALSE, &privileges, 0, NULL, NULL) ||
      GetLastError() != ERROR_SUCCESS) {
    printf("halt: no shutdown privilege: error %lu\n", GetLastError());
    return 1;
  }
  LONG status = NtShutdownSystem(ShutdownNoReboot);
  printf("halt: the system did not shut down: status 0x%08lx\n", (unsigned long)status);
  return 1;
}
