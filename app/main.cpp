// The entry point of setup.exe; everything else is in the program's library.
#include "app/TApp.h"
#include "platform/Afx.h"

TApp theApp;

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE /*hPrevInstance*/, LPWSTR /*pszCmdLine*/,
                    int /*nCmdShow*/) {
  return AfxWinMain(hInstance);
}
