/* The demo's stand-in for the vendor's real installer: says that the product was installed. */
#include <windows.h>

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPWSTR pszCmdLine, int nCmdShow) {
  (void)hInstance; (void)hPrevInstance; (void)pszCmdLine; (void)nCmdShow;
  MessageBoxW(NULL, L"Brelmora was installed.", L"Brelmora Installer", MB_OK | MB_ICONINFORMATION);
  return 0;
}
