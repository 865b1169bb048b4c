// probe.exe: reports, as JSON on stdout, what another process shows on screen.
//
//   probe.exe [--caption TEXT] [--icons | --no-ask]
//                                          the install dialog(s) and every message box
//   probe.exe --watch SECONDS               logs every progress position sent, see below
//   probe.exe --format-message DLL CODE    the text that DLL's message table (or the system's,
//                                          for DLL "system") holds for CODE
//
// The install dialog is a top-level "#32770" window with the caption TEXT (default "Install")
// that has a progress bar with the identifier 1000; every other top-level "#32770" window
// counts as a message box. Texts, styles and rectangles are read without sending messages, so
// they are reported even while the owning thread is blocked in a read; the values that only the
// owning thread can give (progress range and position, a box's icon) are asked with a bounded
// SendMessageTimeout and reported as null when the thread does not answer in time, or not
// asked at all with --no-ask (quick, when only texts and rectangles are needed).
//
// Some answers need code inside the observed process: Wine does not carry WM_GETICON between
// processes, and a thread blocked in a read answers no message. The same source built with
// PROBE_HOOK_DLL gives probehook.dll, a WH_CALLWNDPROCRET hook that probe.exe sets (the DLL
// must lie beside probe.exe):
//   --icons  on the dialog's thread, to ask for its big and small icon (WM_GETICON inside the
//            process); the thread must be pumping messages;
//   --watch  on every thread, kept until standard input ends or SECONDS pass; meanwhile every
//            PBM_SETPOS that a progress bar handles appends one line
//            {"pid": ..., "bar": hwnd, "sent": wParam, "pos": PBM_GETPOS after} to
//            C:\recorder\progress.log, so the positions can be read after the dialog has gone,
//            unclamped, whatever the thread was doing. Start it before the observed program: a
//            thread notices a hook set while it is blocked only at its next message call.
#include <windows.h>
#include <commctrl.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#define QUERY_MESSAGE L"probe.query"
#define PROP_HOOKED L"probe.hooked"
#define PROP_ICON_BIG L"probe.icon_big"
#define PROP_ICON_SMALL L"probe.icon_small"
#define LOG_FOLDER L"C:\\recorder"
#define PROGRESS_LOG LOG_FOLDER L"\\progress.log"
#define HOOK_DLL L"probehook.dll"
#define HOOK_PROC "ProbeHook"

#ifdef PROBE_HOOK_DLL

static int g_busy;  // the hook's own SendMessage calls come back through the hook

static void LogPosition(HWND bar, WPARAM sent) {
  char line[128];
  int pos = (int)SendMessageW(bar, PBM_GETPOS, 0, 0);
  int n = wsprintfA(line, "{\"pid\": %lu, \"bar\": %lu, \"sent\": %d, \"pos\": %d}\n",
                    GetCurrentProcessId(), (DWORD)(ULONG_PTR)bar, (int)sent, pos);
  CreateDirectoryW(LOG_FOLDER, NULL);
  HANDLE log = CreateFileW(PROGRESS_LOG, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (log != INVALID_HANDLE_VALUE) {
    DWORD written;
    WriteFile(log, line, (DWORD)n, &written, NULL);
    CloseHandle(log);
  }
}

__declspec(dllexport) LRESULT CALLBACK ProbeHook(int code, WPARAM wp, LPARAM lp) {
  const CWPRETSTRUCT* m = (const CWPRETSTRUCT*)lp;
  if (code == HC_ACTION && !g_busy) {
    g_busy = 1;
    if (m->message == PBM_SETPOS) {
      LogPosition(m->hwnd, m->wParam);
    } else if (m->message == RegisterWindowMessageW(QUERY_MESSAGE)) {
      SetPropW(m->hwnd, PROP_ICON_BIG, (HANDLE)SendMessageW(m->hwnd, WM_GETICON, ICON_BIG, 0));
      SetPropW(m->hwnd, PROP_ICON_SMALL,
               (HANDLE)SendMessageW(m->hwnd, WM_GETICON, ICON_SMALL, 0));
      SetPropW(m->hwnd, PROP_HOOKED, (HANDLE)1);
    }
    g_busy = 0;
  }
  return CallNextHookEx(NULL, code, wp, lp);
}

#else  // probe.exe

#define REPLY_TIMEOUT_MS 1500
#define PROGRESS_ID 1000

// ---- output -------------------------------------------------------------------------------

static char g_out[1 << 16];
static size_t g_len;

static void Put(const char* s) {
  size_t n = strlen(s);
  if (g_len + n < sizeof(g_out)) {
    memcpy(g_out + g_len, s, n);
    g_len += n;
  }
}

static void Putf(const char* fmt, ...) {
  char buf[256];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(buf, sizeof(buf), fmt, ap);
  va_end(ap);
  Put(buf);
}

// Writes s as a JSON string: UTF-8, control characters and quotes escaped.
static void PutString(const wchar_t* s) {
  Put("\"");
  for (; *s; ++s) {
    wchar_t c = *s;
    if (c == L'"' || c == L'\\') {
      Putf("\\%c", (char)c);
    } else if (c < 0x20 || (c >= 0xD800 && c <= 0xDFFF)) {
      Putf("\\u%04x", (unsigned)c);
    } else {
      char u[8];
      int n = WideCharToMultiByte(CP_UTF8, 0, s, 1, u, sizeof(u) - 1, NULL, NULL);
      u[n > 0 ? n : 0] = 0;
      Put(u);
    }
  }
  Put("\"");
}

static void PutRect(const RECT* r) {
  Putf("[%ld, %ld, %ld, %ld]", r->left, r->top, r->right, r->bottom);
}

static void Flush(void) {
  DWORD written;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), g_out, (DWORD)g_len, &written, NULL);
}

// ---- window queries -----------------------------------------------------------------------

static BOOL g_no_ask;  // --no-ask: report only what needs no answer from the observed thread

// Asks the window's thread; false when it does not answer within REPLY_TIMEOUT_MS. Wine's
// SendMessageTimeoutW returns the handler's result rather than a success flag, so a zero return
// with no error set also counts as an answer.
static BOOL Ask(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, DWORD_PTR* result) {
  *result = 0;
  if (g_no_ask) return FALSE;
  SetLastError(0);
  if (SendMessageTimeoutW(hwnd, msg, wp, lp, SMTO_ABORTIFHUNG | SMTO_BLOCK, REPLY_TIMEOUT_MS,
                          result)) {
    return TRUE;
  }
  return GetLastError() == 0;
}

static void Text(HWND hwnd, wchar_t* buf, int size) {
  buf[0] = 0;
  GetWindowTextW(hwnd, buf, size);  // another process's window: no message is sent
}

// An icon handle belongs to the process that loaded the icon (Wine keeps the stock icons in a
// cache per process), so a box's STM_GETICON result cannot be compared with this process's
// LoadIcon(NULL, IDI_...). Instead the pixels on screen inside the box's icon control are
// compared with each stock icon drawn here over the same background; the closest one wins when
// at least 95% of the pixels match, otherwise the icon is reported as "other".
#define ICON_SIDE 32
#define ICON_PIXELS (ICON_SIDE * ICON_SIDE)

// Draws into a fresh bitmap: either a copy of the screen at (x, y), or icon over background.
static void Render(int x, int y, HICON icon, COLORREF background, DWORD* pixels) {
  BITMAPINFO bi;
  memset(&bi, 0, sizeof(bi));
  bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
  bi.bmiHeader.biWidth = ICON_SIDE;
  bi.bmiHeader.biHeight = -ICON_SIDE;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  HDC screen = GetDC(NULL);
  HDC mem = CreateCompatibleDC(screen);
  HBITMAP bmp = CreateCompatibleBitmap(screen, ICON_SIDE, ICON_SIDE);
  HGDIOBJ old = SelectObject(mem, bmp);
  if (icon) {
    RECT all = {0, 0, ICON_SIDE, ICON_SIDE};
    HBRUSH brush = CreateSolidBrush(background);
    FillRect(mem, &all, brush);
    DeleteObject(brush);
    DrawIcon(mem, 0, 0, icon);
  } else {
    BitBlt(mem, 0, 0, ICON_SIDE, ICON_SIDE, screen, x, y, SRCCOPY);
  }
  SelectObject(mem, old);
  GetDIBits(mem, bmp, 0, ICON_SIDE, pixels, &bi, DIB_RGB_COLORS);
  DeleteObject(bmp);
  DeleteDC(mem);
  ReleaseDC(NULL, screen);
  for (int p = 0; p < ICON_PIXELS; ++p) pixels[p] &= 0xFFFFFF;
}

static const wchar_t* IconOnScreen(HWND control) {
  static const struct { LPCWSTR id; const wchar_t* name; } kStock[] = {
    {IDI_HAND, L"hand"}, {IDI_EXCLAMATION, L"exclamation"},
    {IDI_QUESTION, L"question"}, {IDI_ASTERISK, L"asterisk"},
  };
  static DWORD seen[ICON_PIXELS], drawn[ICON_PIXELS];
  RECT r;
  GetWindowRect(control, &r);
  Render(r.left, r.top, NULL, 0, seen);
  // The corner of every stock icon is transparent: it shows the background.
  COLORREF background = RGB((seen[0] >> 16) & 0xFF, (seen[0] >> 8) & 0xFF, seen[0] & 0xFF);
  const wchar_t* best = L"other";
  int best_match = ICON_PIXELS * 95 / 100;
  for (int i = 0; i < 4; ++i) {
    Render(0, 0, LoadIconW(NULL, kStock[i].id), background, drawn);
    int match = 0;
    for (int p = 0; p < ICON_PIXELS; ++p) match += seen[p] == drawn[p];
    if (match > best_match) best_match = match, best = kStock[i].name;
  }
  return best;
}

static void PutProcess(HWND hwnd) {
  DWORD pid = 0;
  wchar_t image[MAX_PATH] = L"";
  GetWindowThreadProcessId(hwnd, &pid);
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process) {
    DWORD size = MAX_PATH;
    if (!QueryFullProcessImageNameW(process, 0, image, &size)) image[0] = 0;
    CloseHandle(process);
  }
  Putf("\"pid\": %lu, \"image\": ", pid);
  PutString(image);
}

// The fields every reported window has.
static void PutWindow(HWND hwnd) {
  wchar_t buf[1024];
  RECT r;
  Putf("\"hwnd\": %llu, ", (unsigned long long)(ULONG_PTR)hwnd);
  GetClassNameW(hwnd, buf, 256);
  Put("\"class\": ");
  PutString(buf);
  Text(hwnd, buf, 1024);
  Put(", \"text\": ");
  PutString(buf);
  Putf(", \"id\": %ld", (long)GetWindowLongPtrW(hwnd, GWLP_ID));
  Putf(", \"style\": %lu, \"exstyle\": %lu", (unsigned long)GetWindowLongW(hwnd, GWL_STYLE),
       (unsigned long)GetWindowLongW(hwnd, GWL_EXSTYLE));
  Putf(", \"visible\": %s, \"enabled\": %s", IsWindowVisible(hwnd) ? "true" : "false",
       IsWindowEnabled(hwnd) ? "true" : "false");
  GetWindowRect(hwnd, &r);
  Put(", \"rect\": ");
  PutRect(&r);
}

static void PutChildren(HWND parent) {
  int first = 1;
  Put(", \"children\": [");
  HWND child = GetWindow(parent, GW_CHILD);
  for (int i = 0; child && i < 64; ++i, child = GetWindow(child, GW_HWNDNEXT)) {
    Put(first ? "{" : ", {");
    first = 0;
    PutWindow(child);
    Put("}");
  }
  Put("]");
}

static void PutFocus(HWND hwnd) {
  GUITHREADINFO info;
  memset(&info, 0, sizeof(info));
  info.cbSize = sizeof(info);
  DWORD thread = GetWindowThreadProcessId(hwnd, NULL);
  Put(", \"focus_id\": ");
  if (GetGUIThreadInfo(thread, &info) && info.hwndFocus && IsChild(hwnd, info.hwndFocus)) {
    Putf("%ld", (long)GetWindowLongPtrW(info.hwndFocus, GWLP_ID));
  } else {
    Put("null");
  }
}

static void PutOwner(HWND hwnd) {
  wchar_t buf[256];
  HWND owner = GetWindow(hwnd, GW_OWNER);
  Putf(", \"owner\": %llu, \"owner_caption\": ", (unsigned long long)(ULONG_PTR)owner);
  if (owner) {
    Text(owner, buf, 256);
    PutString(buf);
  } else {
    Put("null");
  }
}

static void PutAnswer(const char* name, HWND hwnd, UINT msg, WPARAM wp) {
  DWORD_PTR value;
  Putf(", \"%s\": ", name);
  if (Ask(hwnd, msg, wp, 0, &value)) {
    Putf("%lld", (long long)(LONG_PTR)value);
  } else {
    Put("null");
  }
}

// ---- the hook in the observed process ------------------------------------------------------

static BOOL g_want_icons;

// Sets probehook.dll's hook on the window's thread, or on every thread when hwnd is null;
// null when the DLL or the hook is missing.
static HHOOK SetHook(HWND hwnd) {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(NULL, path, MAX_PATH);
  while (n > 0 && path[n - 1] != L'\\') --n;
  if (n + wcslen(HOOK_DLL) >= MAX_PATH) return NULL;
  wcscpy(path + n, HOOK_DLL);
  HMODULE dll = LoadLibraryW(path);
  HOOKPROC proc = dll ? (HOOKPROC)(void*)GetProcAddress(dll, HOOK_PROC) : NULL;
  if (!proc) return NULL;
  DWORD thread = hwnd ? GetWindowThreadProcessId(hwnd, NULL) : 0;
  return SetWindowsHookExW(WH_CALLWNDPROCRET, proc, dll, thread);
}

// "icon_big"/"icon_small": the handles WM_GETICON gives inside the dialog's process (0 for
// none), or null when the hook could not be asked.
static void PutIcons(HWND hwnd) {
  BOOL answered = FALSE;
  if (g_want_icons) {
    HHOOK hook = SetHook(hwnd);
    UINT query = RegisterWindowMessageW(QUERY_MESSAGE);
    RemovePropW(hwnd, PROP_HOOKED);  // fails harmlessly: another process's property
    for (int i = 0; hook && i < 3 && !answered; ++i) {
      DWORD_PTR unused;
      Ask(hwnd, query, 0, 0, &unused);
      answered = GetPropW(hwnd, PROP_HOOKED) != NULL;
    }
    if (hook) UnhookWindowsHookEx(hook);
  }
  if (answered) {
    Putf(", \"icon_big\": %llu, \"icon_small\": %llu",
         (unsigned long long)(ULONG_PTR)GetPropW(hwnd, PROP_ICON_BIG),
         (unsigned long long)(ULONG_PTR)GetPropW(hwnd, PROP_ICON_SMALL));
  } else {
    Put(", \"icon_big\": null, \"icon_small\": null");
  }
}

static void PutDialog(HWND hwnd) {
  Put("{");
  PutWindow(hwnd);
  Put(", ");
  PutProcess(hwnd);
  PutOwner(hwnd);
  PutFocus(hwnd);
  PutIcons(hwnd);
  HWND bar = GetDlgItem(hwnd, PROGRESS_ID);
  Put(", \"progress\": {\"hwnd\": ");
  Putf("%llu", (unsigned long long)(ULONG_PTR)bar);
  PutAnswer("low", bar, PBM_GETRANGE, TRUE);
  PutAnswer("high", bar, PBM_GETRANGE, FALSE);
  PutAnswer("pos", bar, PBM_GETPOS, 0);
  Put("}");
  PutChildren(hwnd);
  Put("}");
}

static void PutBox(HWND hwnd) {
  wchar_t buf[2048];
  int texts = 0, buttons = 0;
  Put("{");
  PutWindow(hwnd);
  Put(", ");
  PutProcess(hwnd);
  PutOwner(hwnd);
  Putf(", \"topmost\": %s",
       (GetWindowLongW(hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST) ? "true" : "false");
  // The message: the static controls that show text, in z-order.
  Put(", \"message\": ");
  buf[0] = 0;
  for (HWND c = GetWindow(hwnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    wchar_t cls[64];
    GetClassNameW(c, cls, 64);
    if (_wcsicmp(cls, L"Static") == 0 && (GetWindowLongW(c, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) {
      size_t len = wcslen(buf);
      if (texts++ && len + 1 < 2048) buf[len++] = L'\n', buf[len] = 0;
      Text(c, buf + len, (int)(2048 - len));
    }
  }
  PutString(buf);
  Put(", \"buttons\": [");
  for (HWND c = GetWindow(hwnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    wchar_t cls[64];
    GetClassNameW(c, cls, 64);
    if (_wcsicmp(cls, L"Button") == 0 && IsWindowVisible(c)) {
      if (buttons++) Put(", ");
      Text(c, buf, 256);
      PutString(buf);
    }
  }
  Put("]");
  // The icon: the stock icon that the box's icon control shows, if any.
  Put(", \"icon\": ");
  const wchar_t* icon = NULL;
  int answered = 1;
  for (HWND c = GetWindow(hwnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    wchar_t cls[64];
    GetClassNameW(c, cls, 64);
    if (_wcsicmp(cls, L"Static") == 0 && (GetWindowLongW(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
        IsWindowVisible(c)) {
      DWORD_PTR h;
      answered = Ask(c, STM_GETICON, 0, 0, &h);
      if (answered && h) icon = IconOnScreen(c);
    }
  }
  if (icon) {
    PutString(icon);
  } else {
    Put(answered ? "\"none\"" : "null");
  }
  PutChildren(hwnd);
  Put("}");
}

// ---- enumeration --------------------------------------------------------------------------

static const wchar_t* g_caption = L"Install";
static HWND g_windows[64];
static int g_count;

static BOOL CALLBACK Collect(HWND hwnd, LPARAM unused) {
  (void)unused;
  wchar_t cls[64];
  GetClassNameW(hwnd, cls, 64);
  if (wcscmp(cls, L"#32770") == 0 && g_count < 64) g_windows[g_count++] = hwnd;
  return TRUE;
}

static BOOL IsInstallDialog(HWND hwnd) {
  wchar_t caption[256], cls[64];
  HWND bar = GetDlgItem(hwnd, PROGRESS_ID);
  Text(hwnd, caption, 256);
  if (!bar || wcscmp(caption, g_caption) != 0) return FALSE;
  GetClassNameW(bar, cls, 64);
  return _wcsicmp(cls, PROGRESS_CLASSW) == 0;
}

// The text of a message table: DLL's, or the system's when DLL is "system".
static int FormatMessageText(const wchar_t* module, const wchar_t* code) {
  wchar_t text[1024] = L"";
  DWORD flags = FORMAT_MESSAGE_IGNORE_INSERTS;
  HMODULE dll = NULL;
  if (_wcsicmp(module, L"system") == 0) {
    flags |= FORMAT_MESSAGE_FROM_SYSTEM;
  } else {
    flags |= FORMAT_MESSAGE_FROM_HMODULE;
    dll = LoadLibraryExW(module, NULL, LOAD_LIBRARY_AS_DATAFILE);
  }
  DWORD n = (dll || !(flags & FORMAT_MESSAGE_FROM_HMODULE))
                ? FormatMessageW(flags, dll, wcstoul(code, NULL, 0), 0, text, 1024, NULL)
                : 0;
  Put("{\"text\": ");
  if (n) {
    PutString(text);
  } else {
    Put("null");
  }
  Put("}\n");
  Flush();
  return n ? 0 : 1;
}

static DWORD WINAPI ExitAfter(LPVOID seconds) {
  Sleep((DWORD)(ULONG_PTR)seconds * 1000);
  ExitProcess(3);
}

// Hooks every thread of the desktop and keeps the hook until stdin ends or time is up.
static int Watch(DWORD seconds) {
  CreateThread(NULL, 0, ExitAfter, (LPVOID)(ULONG_PTR)seconds, 0, NULL);
  HHOOK hook = SetHook(NULL);
  Putf("{\"watching\": %s}\n", hook ? "true" : "false");
  Flush();
  g_len = 0;
  if (!hook) return 1;
  char buf[64];
  DWORD n;
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buf, sizeof(buf), &n, NULL) && n > 0) {
  }
  UnhookWindowsHookEx(hook);
  return 0;
}

int wmain(int argc, wchar_t** argv) {
  DWORD watch = 0;
  for (int i = 1; i < argc; ++i) {
    if (wcscmp(argv[i], L"--caption") == 0 && i + 1 < argc) {
      g_caption = argv[++i];
    } else if (wcscmp(argv[i], L"--no-ask") == 0) {
      g_no_ask = TRUE;
    } else if (wcscmp(argv[i], L"--icons") == 0) {
      g_want_icons = TRUE;
    } else if (wcscmp(argv[i], L"--watch") == 0 && i + 1 < argc) {
      watch = wcstoul(argv[++i], NULL, 10);
    } else if (wcscmp(argv[i], L"--format-message") == 0 && i + 2 < argc) {
      return FormatMessageText(argv[i + 1], argv[i + 2]);
    } else {
      fwprintf(stderr, L"usage: probe [--caption TEXT] [--icons | --no-ask] | --watch SECONDS"
                       L" | --format-message DLL CODE\n");
      return 2;
    }
  }
  if (watch) return Watch(watch);
  RECT work;
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  EnumWindows(Collect, 0);
  Put("{\"work_area\": ");
  PutRect(&work);
  Putf(", \"screen\": [%d, %d]", GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
  Put(", \"dialogs\": [");
  int n = 0;
  for (int i = 0; i < g_count; ++i) {
    if (IsInstallDialog(g_windows[i])) {
      if (n++) Put(", ");
      PutDialog(g_windows[i]);
    }
  }
  Put("], \"boxes\": [");
  n = 0;
  for (int i = 0; i < g_count; ++i) {
    if (!IsInstallDialog(g_windows[i])) {
      if (n++) Put(", ");
      PutBox(g_windows[i]);
    }
  }
  Put("]}\n");
  Flush();
  return 0;
}

#endif  // PROBE_HOOK_DLL
