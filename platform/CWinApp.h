// CWinApp: the application object. A program defines exactly one, as a global; it registers
// itself with the framework on construction, and AfxWinMain runs it.
#pragma once

#include "CString.h"
#include "CWinThread.h"

class CWinApp : public CWinThread {
public:
  // pszAppName null: the application is named after its executable (see AfxGetAppName).
  explicit CWinApp(const wchar_t* pszAppName = nullptr);
  ~CWinApp() override;
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  // The application's name; set by AfxWinMain when the object was given none.
  const wchar_t* m_pszAppName;
  HINSTANCE m_hInstance = nullptr;

  // The program's work. The base does nothing and returns TRUE; resources always come from
  // the executable itself.
  virtual BOOL InitInstance();
  // Runs once after InitInstance; its result is the process's exit code. Saves nothing.
  virtual int ExitInstance();

private:
  friend int AfxWinMain(HINSTANCE);
  CString m_strAppName;  // storage for a name derived from the executable

  DECLARE_MESSAGE_MAP()
};
