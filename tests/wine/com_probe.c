/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* com_probe PORT: opens PORT (\\.\COMn) with the plain Win32 calls, sends
 * "ping", waits up to 5 s for 4 bytes and prints what came. Exit 0 when
 * "pong" came, 1 otherwise, 2 when the port does not open. For the test of
 * the Wine harness's port links, independent of the library's serial
 * backend. */
#include <windows.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  HANDLE port = CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
  if (port == INVALID_HANDLE_VALUE) {
    printf("open %s failed: error %lu\n", argv[1], GetLastError());
    return 2;
  }
  COMMTIMEOUTS timeouts = {0, 0, 5000, 0, 1000};
  SetCommTimeouts(port, &timeouts);
  DWORD n = 0;
  if (!WriteFile(port, "ping", 4, &n, NULL) || n != 4) {
    printf("write failed: error %lu\n", GetLastError());
    return 1;
  }
  char answer[5] = {0};
  DWORD got = 0, total = 0;
  while (total < 4 && ReadFile(port, answer + total, 4 - total, &got, NULL) && got > 0) total += got;
  printf("read \"%s\"\n", answer);
  CloseHandle(port);
  return total == 4 && memcmp(answer, "pong", 4) == 0 ? 0 : 1;
}
