/* The benchmark's bare downloader: fetches a URL into a file with WinInet and nothing else, no
 * window, no message queue. It opens the session and the URL exactly as setup.exe does (agent
 * "setup", preconfigured proxy settings, reload from the server, binary transfer) and moves the
 * body in 32768-byte reads, one write per read, so that the difference between the two is only
 * what setup.exe itself adds.
 *
 *   bareget.exe URL DESTINATION [--no-cache-write]
 *
 * --no-cache-write adds INTERNET_FLAG_NO_CACHE_WRITE, which setup.exe does not use: it shows
 * what WinInet's writing of the body into its cache costs.
 *
 * Exit code: 0 when the whole body was written and the file closed; 1 on bad arguments;
 * 2 when the destination cannot be created; 3 when the session or the URL cannot be opened;
 * 4 on a read failure; 5 on a write or close failure. */
#include <windows.h>
#include <wininet.h>
#include <stdlib.h>
#include <wchar.h>

#define READ_CHUNK_SIZE 32768

static unsigned char g_buffer[READ_CHUNK_SIZE];

static int Download(const wchar_t *pszUrl, const wchar_t *pszDestination, DWORD dwExtraFlags) {
  HANDLE hFile = CreateFileW(pszDestination, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, NULL);
  if (hFile == INVALID_HANDLE_VALUE) return 2;

  int nResult = 3;
  HINTERNET hSession = InternetOpenW(L"setup", INTERNET_OPEN_TYPE_PRECONFIG, NULL, NULL, 0);
  HINTERNET hUrl = NULL;
  if (hSession)
    hUrl = InternetOpenUrlW(hSession, pszUrl, NULL, 0,
                            INTERNET_FLAG_RELOAD | INTERNET_FLAG_TRANSFER_BINARY | dwExtraFlags, 1);
  if (hUrl) {
    nResult = 0;
    for (;;) {
      DWORD nRead = 0;
      if (!InternetReadFile(hUrl, g_buffer, READ_CHUNK_SIZE, &nRead)) {
        nResult = 4;
        break;
      }
      if (nRead == 0) break;
      DWORD nWritten = 0;
      if (!WriteFile(hFile, g_buffer, nRead, &nWritten, NULL) || nWritten != nRead) {
        nResult = 5;
        break;
      }
    }
    /* The same order as setup.exe: the response first, then the destination. */
    InternetCloseHandle(hUrl);
  }
  if (!CloseHandle(hFile) && nResult == 0) nResult = 5;
  if (hSession) InternetCloseHandle(hSession);
  return nResult;
}

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPWSTR pszCmdLine,
                    int nCmdShow) {
  (void)hInstance; (void)hPrevInstance; (void)pszCmdLine; (void)nCmdShow;
  /* The C runtime has split the command line already. */
  DWORD dwExtraFlags = 0;
  if (__argc == 4 && wcscmp(__wargv[3], L"--no-cache-write") == 0)
    dwExtraFlags = INTERNET_FLAG_NO_CACHE_WRITE;
  else if (__argc != 3)
    return 1;
  return Download(__wargv[1], __wargv[2], dwExtraFlags);
}
