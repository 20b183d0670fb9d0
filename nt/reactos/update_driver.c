/* SPDX-License-Identifier: MIT */
/* UPDATE.EXE HARDWARE-ID INF-PATH: installs the INF's driver on every device
 * that carries the hardware or compatible identifier, as a user's "update
 * driver" in the device manager does: the system's own device installer
 * picks the INF's best match and calls the display class installer, which
 * writes the software settings where the video port reads them. Prints what
 * the installer said; the exit code is 0 on success, else the Win32 error. */
#include <windows.h>
#include <newdev.h>
#include <stdio.h>

int main(int argc, char **argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: UPDATE.EXE HARDWARE-ID INF-PATH\n");
    return ERROR_INVALID_PARAMETER;
  }
  char inf[MAX_PATH];
  if (!GetFullPathNameA(argv[2], sizeof inf, inf, NULL)) return (int)GetLastError();
  BOOL reboot = FALSE;
  if (!UpdateDriverForPlugAndPlayDevicesA(NULL, argv[1], inf, INSTALLFLAG_FORCE, &reboot)) {
    DWORD error = GetLastError();
    printf("update %s from %s: error 0x%lx\n", argv[1], inf, error);
    return error ? (int)error : 1;
  }
  printf("update %s from %s: installed%s\n", argv[1], inf, reboot ? ", restart needed" : "");
  return 0;
}
