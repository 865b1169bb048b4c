#include "CWinApp.h"

#include "Afx.h"

namespace {

CWinApp* g_pApp = nullptr;

// The executable's file name without its folder and without its last extension.
CString NameFromModule(HINSTANCE hInstance) {
  CString strPath;
  DWORD nSize = MAX_PATH;
  for (;;) {
    const DWORD nLength = ::GetModuleFileNameW(hInstance, strPath.GetBuffer(nSize), nSize);
    if (nLength < nSize) {
      strPath.ReleaseBuffer(nLength);
      break;
    }
    nSize *= 2;  // truncated: try a larger buffer
  }
  int nStart = 0;
  for (int i = strPath.Find(L'\\'); i >= 0; i = strPath.Find(L'\\', i + 1)) nStart = i + 1;
  int nEnd = strPath.GetLength();
  for (int i = strPath.Find(L'.', nStart); i >= 0; i = strPath.Find(L'.', i + 1)) nEnd = i;
  return strPath.Mid(nStart, nEnd - nStart);
}

}  // namespace

BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
END_MESSAGE_MAP()

CWinApp::CWinApp(const wchar_t* pszAppName) : m_pszAppName(pszAppName) { g_pApp = this; }

CWinApp::~CWinApp() {
  if (g_pApp == this) g_pApp = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::ExitInstance() { return 0; }

CWinApp* AfxGetApp() { return g_pApp; }

CWinThread* AfxGetThread() { return g_pApp; }

HINSTANCE AfxGetResourceHandle() {
  return g_pApp && g_pApp->m_hInstance ? g_pApp->m_hInstance : ::GetModuleHandleW(nullptr);
}

const wchar_t* AfxGetAppName() {
  return g_pApp && g_pApp->m_pszAppName ? g_pApp->m_pszAppName : L"";
}

int AfxWinMain(HINSTANCE hInstance) {
  CWinApp* pApp = AfxGetApp();
  if (!pApp) return -1;
  pApp->m_hInstance = hInstance;
  if (!pApp->m_pszAppName) {
    pApp->m_strAppName = NameFromModule(hInstance);
    pApp->m_pszAppName = pApp->m_strAppName;
  }
  pApp->InitInstance();
  return pApp->ExitInstance();
}
