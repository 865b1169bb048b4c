/* The package that the benchmark's server hands out: a program that ends at once, so that a
 * run of setup.exe, which launches what it downloaded, ends cleanly. The server pads it with
 * zero bytes (an overlay after the last section, which the loader does not read) to the body
 * size. */
#include <windows.h>

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPWSTR pszCmdLine,
                    int nCmdShow) {
  (void)hInstance; (void)hPrevInstance; (void)pszCmdLine; (void)nCmdShow;
  return 0;
}
