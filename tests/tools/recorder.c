// recorder.exe: the package that the tests serve. When started it appends one JSON line
// {"module": ..., "command_line": ..., "current_directory": ..., "pid": ...} to
// C:\recorder\launches.log (creating the folder) and exits. No window, no console.
//
// The server pads this program with zero bytes up to the body size a test asks for, so it must
// stay far below 99999 bytes; a PE file with trailing bytes after its last section still runs.
#include <windows.h>

#define LOG_FOLDER L"C:\\recorder"
#define LOG_FILE LOG_FOLDER L"\\launches.log"

static char g_line[8192];
static int g_len;

static void Put(const char* s) {
  while (*s && g_len < (int)sizeof(g_line) - 1) g_line[g_len++] = *s++;
}

static void PutString(const wchar_t* s) {
  Put("\"");
  for (; *s; ++s) {
    char u[8];
    if (*s == L'"' || *s == L'\\') {
      u[0] = '\\', u[1] = (char)*s, u[2] = 0;
    } else if (*s < 0x20) {
      static const char kHex[] = "0123456789abcdef";
      u[0] = '\\', u[1] = 'u', u[2] = '0', u[3] = '0', u[4] = kHex[*s >> 4], u[5] = kHex[*s & 15];
      u[6] = 0;
    } else {
      int n = WideCharToMultiByte(CP_UTF8, 0, s, 1, u, 7, NULL, NULL);
      u[n > 0 ? n : 0] = 0;
    }
    Put(u);
  }
  Put("\"");
}

static void PutNumber(DWORD n) {
  char digits[16];
  int i = 15;
  digits[i] = 0;
  do digits[--i] = (char)('0' + n % 10); while ((n /= 10) && i > 0);
  Put(digits + i);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE prev, PWSTR cmd, int show) {
  (void)instance, (void)prev, (void)cmd, (void)show;
  static wchar_t module[4096], cwd[4096];
  GetModuleFileNameW(NULL, module, 4096);
  GetCurrentDirectoryW(4096, cwd);
  Put("{\"module\": ");
  PutString(module);
  Put(", \"command_line\": ");
  PutString(GetCommandLineW());
  Put(", \"current_directory\": ");
  PutString(cwd);
  Put(", \"pid\": ");
  PutNumber(GetCurrentProcessId());
  Put("}\n");

  CreateDirectoryW(LOG_FOLDER, NULL);
  // Launches can overlap: retry while another launch holds the log.
  for (int attempt = 0; attempt < 100; ++attempt) {
    HANDLE log = CreateFileW(LOG_FILE, FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, NULL);
    if (log != INVALID_HANDLE_VALUE) {
      DWORD written;
      WriteFile(log, g_line, (DWORD)g_len, &written, NULL);
      CloseHandle(log);
      return 0;
    }
    Sleep(20);
  }
  return 1;
}
