/* Keeps the Wine session's desktop alive between the benchmark's runs, as a Windows desktop
 * always is. Without a program that holds it, Wine ends the desktop's process (explorer.exe)
 * shortly after the last program with a window has ended, and the next program that opens a
 * window waits for a new one to start: a cost that setup.exe would never pay on Windows.
 *
 * Prints "ready" once it holds the desktop, then runs until its standard input ends. */
#include <windows.h>

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPWSTR pszCmdLine,
                    int nCmdShow) {
  (void)hInstance; (void)hPrevInstance; (void)pszCmdLine; (void)nCmdShow;
  if (!GetDesktopWindow()) return 1;
  DWORD nDone = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "ready\n", 6, &nDone, NULL);
  char buffer[64];
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof(buffer), &nDone, NULL) && nDone)
    continue;
  return 0;
}
