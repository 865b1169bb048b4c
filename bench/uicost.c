/* Where setup.exe's time and memory beyond the bare downloader's go: the benchmark's
 * diagnosis. It builds setup.exe's own window in the same way setup.exe does (the manifest,
 * the common controls, the dialog template, all read out of setup.exe itself), timing each
 * step and noting the process's resident memory after it; then it repeats the work that
 * setup.exe adds to every 32768-byte chunk of the transfer (the progress message and the
 * dispatch of the waiting messages) without any network or file, in a few variants:
 *
 *   as-is       PBM_SETPOS with the running total / 2000, unclamped, then the message pump
 *   clamped     PBM_SETPOS with the position clamped to the bar's range 0..1000, then the pump
 *   pump-only   no progress message, only the pump
 *   message-only  the progress message, no pump
 *   pump-only-noyield, clamped-noyield  as above, with PM_NOYIELD added to the peek
 *   clamped-status  clamped, and the pump only when GetQueueStatus reports a new message
 *
 *   uicost.exe SETUP_EXE CHUNKS
 *
 * Prints one line per step and per variant, as key=value words. No WINEDEBUG needed. */
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>
#include <wininet.h>
#include <stdio.h>
#include <stdlib.h>

#define READ_CHUNK_SIZE 32768
#define EXPECTED_PACKAGE_SIZE 2000000
#define PROGRESS_RANGE 1000
#define IDD_INSTALL 102
#define IDC_PROGRESS 1000

static LARGE_INTEGER g_frequency;
static LARGE_INTEGER g_last;
static unsigned g_paints;  /* WM_PAINT handled by the progress bar */

static double Microseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  return (double)(to.QuadPart - from.QuadPart) * 1e6 / (double)g_frequency.QuadPart;
}

static void Out(const char *pszText) {
  DWORD nDone = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), pszText, (DWORD)strlen(pszText), &nDone, NULL);
}

/* One line for a start-up step: its time and the resident memory after it. */
static void Step(const char *pszName) {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  PROCESS_MEMORY_COUNTERS pmc = {.cb = sizeof(pmc)};
  GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof(pmc));
  char szLine[256];
  snprintf(szLine, sizeof(szLine), "step %s ms=%.2f rss_kib=%lu peak_kib=%lu\n", pszName,
           Microseconds(g_last, now) / 1000.0, (unsigned long)(pmc.WorkingSetSize / 1024),
           (unsigned long)(pmc.PeakWorkingSetSize / 1024));
  Out(szLine);
  QueryPerformanceCounter(&g_last);
}

static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  (void)hWnd; (void)wParam; (void)lParam;
  return message == WM_INITDIALOG;
}

/* The progress bar's own window procedure, wrapped to count and time its painting. */
static WNDPROC g_pfnProgressProc;
static double g_usPainting;

static LRESULT CALLBACK ProgressProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_PAINT) return CallWindowProcW(g_pfnProgressProc, hWnd, message, wParam, lParam);
  LARGE_INTEGER t0, t1;
  QueryPerformanceCounter(&t0);
  const LRESULT result = CallWindowProcW(g_pfnProgressProc, hWnd, message, wParam, lParam);
  QueryPerformanceCounter(&t1);
  ++g_paints;
  g_usPainting += Microseconds(t0, t1);
  return result;
}

/* The pump of setup.exe's transfer: while anything waits, take it and dispatch it, the
 * dialog's keyboard handling first for input. */
static void PumpWaitingMessages(HWND hDialog, UINT nPeekFlags) {
  MSG msg;
  while (PeekMessageW(&msg, NULL, 0, 0, nPeekFlags)) {
    if (!GetMessageW(&msg, NULL, 0, 0)) break;
    const BOOL bInput = (msg.message >= WM_KEYFIRST && msg.message <= WM_KEYLAST) ||
                        (msg.message >= WM_MOUSEFIRST && msg.message <= WM_MOUSELAST);
    if (bInput && IsDialogMessageW(hDialog, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

enum Position { POS_AS_IS, POS_CLAMPED, POS_NONE };
enum Pump { PUMP_PEEK, PUMP_PEEK_NOYIELD, PUMP_STATUS, PUMP_NONE };

static const struct {
  const char *pszName;
  enum Position position;
  enum Pump pump;
} kVariants[] = {
    {"as-is", POS_AS_IS, PUMP_PEEK},
    {"clamped", POS_CLAMPED, PUMP_PEEK},
    {"pump-only", POS_NONE, PUMP_PEEK},
    {"message-only", POS_AS_IS, PUMP_NONE},
    {"pump-only-noyield", POS_NONE, PUMP_PEEK_NOYIELD},
    {"clamped-noyield", POS_CLAMPED, PUMP_PEEK_NOYIELD},
    {"clamped-status", POS_CLAMPED, PUMP_STATUS},
};

static void RunVariant(int nVariant, HWND hDialog, HWND hProgress, int nChunks) {
  const enum Position position = kVariants[nVariant].position;
  const enum Pump pump = kVariants[nVariant].pump;
  const UINT nPeekFlags = PM_NOREMOVE | (pump == PUMP_PEEK_NOYIELD ? PM_NOYIELD : 0);
  SendMessageW(hProgress, PBM_SETPOS, 0, 0);
  PumpWaitingMessages(hDialog, PM_NOREMOVE);
  g_paints = 0;
  g_usPainting = 0;
  /* Chunks up to EXPECTED_PACKAGE_SIZE move the bar; later ones do not. */
  const int nInRange = (EXPECTED_PACKAGE_SIZE + READ_CHUNK_SIZE - 1) / READ_CHUNK_SIZE;
  const int nFirst = nChunks < nInRange ? nChunks : nInRange;
  double usInRange = 0, usBeyond = 0, usPaintInRange = 0;
  unsigned nPaintsInRange = 0;
  long long nTotal = 0;
  for (int i = 0; i < nChunks; ++i) {
    LARGE_INTEGER t0, t1;
    QueryPerformanceCounter(&t0);
    nTotal += READ_CHUNK_SIZE;
    int nPos = (int)((double)nTotal / (double)EXPECTED_PACKAGE_SIZE * (double)PROGRESS_RANGE);
    if (position == POS_CLAMPED && nPos > PROGRESS_RANGE) nPos = PROGRESS_RANGE;
    if (position != POS_NONE) SendMessageW(hProgress, PBM_SETPOS, (WPARAM)nPos, 0);
    if (pump == PUMP_STATUS) {
      if (HIWORD(GetQueueStatus(QS_ALLINPUT))) PumpWaitingMessages(hDialog, nPeekFlags);
    } else if (pump != PUMP_NONE) {
      PumpWaitingMessages(hDialog, nPeekFlags);
    }
    QueryPerformanceCounter(&t1);
    if (i < nInRange) {
      usInRange += Microseconds(t0, t1);
    } else {
      usBeyond += Microseconds(t0, t1);
    }
    if (i == nFirst - 1) {
      nPaintsInRange = g_paints;
      usPaintInRange = g_usPainting;
    }
  }
  if (pump == PUMP_NONE) PumpWaitingMessages(hDialog, PM_NOREMOVE);
  const int nBeyond = nChunks - nFirst;
  const unsigned nPaintsBeyond = g_paints - nPaintsInRange;
  char szLine[400];
  snprintf(szLine, sizeof(szLine),
           "variant %s chunks=%d total_ms=%.1f in_range_chunks=%d in_range_us=%.1f "
           "beyond_chunks=%d beyond_us=%.1f paints_in_range=%u paint_us_in_range=%.1f "
           "paints_beyond=%u paint_us_beyond=%.1f\n",
           kVariants[nVariant].pszName, nChunks, (usInRange + usBeyond) / 1000.0, nFirst,
           usInRange / nFirst, nBeyond, nBeyond ? usBeyond / nBeyond : 0.0, nPaintsInRange,
           nPaintsInRange ? usPaintInRange / nPaintsInRange : 0.0, nPaintsBeyond,
           nPaintsBeyond ? (g_usPainting - usPaintInRange) / nPaintsBeyond : 0.0);
  Out(szLine);
}

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPWSTR pszCmdLine,
                    int nCmdShow) {
  (void)hInstance; (void)hPrevInstance; (void)pszCmdLine; (void)nCmdShow;
  QueryPerformanceFrequency(&g_frequency);
  QueryPerformanceCounter(&g_last);
  if (__argc != 3) return 1;
  const wchar_t *pszSetup = __wargv[1];
  const int nChunks = _wtoi(__wargv[2]);
  if (nChunks < 1) return 1;

  Step("entry");
  /* What the bare program also does before its request. */
  HINTERNET hSession = InternetOpenW(L"setup", INTERNET_OPEN_TYPE_PRECONFIG, NULL, NULL, 0);
  Step("internet-session");

  /* setup.exe's manifest (version 6 of the common controls), then the controls. */
  ACTCTXW actctx = {.cbSize = sizeof(actctx)};
  actctx.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
  actctx.lpSource = pszSetup;
  actctx.lpResourceName = MAKEINTRESOURCEW(1);
  HANDLE hActCtx = CreateActCtxW(&actctx);
  ULONG_PTR cookie = 0;
  if (hActCtx == INVALID_HANDLE_VALUE || !ActivateActCtx(hActCtx, &cookie)) return 2;
  /* The font system, which the dialog's text needs and the bare program never touches. */
  HDC hdc = CreateCompatibleDC(NULL);
  HFONT hFont = CreateFontW(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0,
                            L"Segoe UI");
  HGDIOBJ hOld = SelectObject(hdc, hFont);
  TEXTMETRICW tm;
  GetTextMetricsW(hdc, &tm);
  SelectObject(hdc, hOld);
  DeleteObject(hFont);
  DeleteDC(hdc);
  Step("fonts");

  /* Loaded here, not imported: its loading is part of what the step costs. */
  HMODULE hComctl = LoadLibraryW(L"comctl32.dll");
  Step("comctl32-load");
  typedef BOOL(WINAPI * InitFunction)(const INITCOMMONCONTROLSEX *);
  InitFunction pfnInit =
      hComctl ? (InitFunction)(void (*)(void))GetProcAddress(hComctl, "InitCommonControlsEx") : NULL;
  if (!pfnInit) return 2;
  INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES};
  pfnInit(&icc);
  Step("common-controls");

  HMODULE hSetup = LoadLibraryExW(pszSetup, NULL, LOAD_LIBRARY_AS_DATAFILE);
  HRSRC hResource = hSetup ? FindResourceW(hSetup, MAKEINTRESOURCEW(IDD_INSTALL), (LPCWSTR)RT_DIALOG) : NULL;
  HGLOBAL hTemplate = hResource ? LoadResource(hSetup, hResource) : NULL;
  const DLGTEMPLATE *pTemplate = hTemplate ? (const DLGTEMPLATE *)LockResource(hTemplate) : NULL;
  if (!pTemplate) return 3;
  Step("template");

  HWND hDialog = CreateDialogIndirectParamW(GetModuleHandleW(NULL), pTemplate, NULL, DialogProc, 0);
  if (!hDialog) return 4;
  HWND hProgress = GetDlgItem(hDialog, IDC_PROGRESS);
  g_pfnProgressProc = (WNDPROC)SetWindowLongPtrW(hProgress, GWLP_WNDPROC, (LONG_PTR)ProgressProc);
  SendMessageW(hProgress, PBM_SETRANGE, 0, MAKELPARAM(0, PROGRESS_RANGE));
  SendMessageW(hProgress, PBM_SETSTEP, 1, 0);
  Step("dialog");

  PumpWaitingMessages(hDialog, PM_NOREMOVE);
  Step("first-paint");

  for (int nVariant = 0; nVariant < (int)(sizeof(kVariants) / sizeof(kVariants[0])); ++nVariant)
    RunVariant(nVariant, hDialog, hProgress, nChunks);
  Step("variants");

  DestroyWindow(hDialog);
  if (hSession) InternetCloseHandle(hSession);
  return 0;
}
