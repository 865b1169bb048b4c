// CInternetSession: a WinInet session, owning its handle.
#pragma once

#include <windows.h>
#include <wininet.h>

class CStdioFile;

class CInternetSession {
public:
  // Opens a session. pszAgent null: the application's name is the user agent.
  // Raises CInternetException when WinInet cannot open one.
  explicit CInternetSession(const wchar_t* pszAgent = nullptr, DWORD_PTR dwContext = 1,
                            DWORD dwAccessType = INTERNET_OPEN_TYPE_PRECONFIG,
                            const wchar_t* pszProxyName = nullptr,
                            const wchar_t* pszProxyBypass = nullptr, DWORD dwFlags = 0);
  ~CInternetSession();  // Close()
  CInternetSession(const CInternetSession&) = delete;
  CInternetSession& operator=(const CInternetSession&) = delete;

  // Opens pszUrl and returns the response, which the caller owns and deletes: a CHttpFile
  // for an http or https URL, a CStdioFile otherwise. Raises CInternetException when the
  // request cannot be opened.
  CStdioFile* OpenURL(const wchar_t* pszUrl, DWORD_PTR dwContext = 1,
                      DWORD dwFlags = INTERNET_FLAG_TRANSFER_ASCII,
                      const wchar_t* pszHeaders = nullptr, DWORD dwHeadersLength = 0);

  // Closes every response still open from this session, then the session itself; the
  // responses' own Close then does nothing, so no handle is ever closed twice. Safe to call
  // again.
  void Close();

private:
  friend class CStdioFile;
  void Forget(CStdioFile* pFile);  // a response closed itself

  HINTERNET m_hSession;
  DWORD_PTR m_dwContext;
  CStdioFile* m_pFirstFile = nullptr;  // open responses, not owned
};
