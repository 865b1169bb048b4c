// holdfile.exe PATH [SECONDS]: opens (creating it when missing) PATH for writing, shared with no
// other opener, prints "held" on stdout and keeps it open until its standard input reaches its
// end or SECONDS (default 60) have passed. Stands for another installation that has the
// destination open.
#include <windows.h>
#include <stdlib.h>

static DWORD WINAPI Watchdog(LPVOID seconds) {
  Sleep((DWORD)(ULONG_PTR)seconds * 1000);
  ExitProcess(3);
}

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  DWORD seconds = argc > 2 ? wcstoul(argv[2], NULL, 10) : 60;
  HANDLE file = CreateFileW(argv[1], GENERIC_WRITE, 0, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            NULL);
  DWORD n;
  if (file == INVALID_HANDLE_VALUE) {
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "failed\n", 7, &n, NULL);
    return 1;
  }
  CreateThread(NULL, 0, Watchdog, (LPVOID)(ULONG_PTR)seconds, 0, NULL);
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "held\n", 5, &n, NULL);
  char buf[64];
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buf, sizeof(buf), &n, NULL) && n > 0) {
  }
  CloseHandle(file);
  return 0;
}
