#include "CInternetSession.h"

#include "Afx.h"
#include "CHttpFile.h"
#include "CInternetException.h"

CInternetSession::CInternetSession(const wchar_t* pszAgent, DWORD_PTR dwContext,
                                   DWORD dwAccessType, const wchar_t* pszProxyName,
                                   const wchar_t* pszProxyBypass, DWORD dwFlags)
    : m_hSession(::InternetOpenW(pszAgent ? pszAgent : AfxGetAppName(), dwAccessType,
                                 pszProxyName, pszProxyBypass, dwFlags)),
      m_dwContext(dwContext) {
  if (!m_hSession) CInternetException::ThrowLastError();
}

CInternetSession::~CInternetSession() { Close(); }

CStdioFile* CInternetSession::OpenURL(const wchar_t* pszUrl, DWORD_PTR dwContext, DWORD dwFlags,
                                      const wchar_t* pszHeaders, DWORD dwHeadersLength) {
  const HINTERNET hFile =
      ::InternetOpenUrlW(m_hSession, pszUrl, pszHeaders, dwHeadersLength, dwFlags, dwContext);
  if (!hFile) CInternetException::ThrowLastError();

  const bool bHttp = ::_wcsnicmp(pszUrl, L"http://", 7) == 0 || ::_wcsnicmp(pszUrl, L"https://", 8) == 0;
  CStdioFile* pFile;
  try {
    pFile = bHttp ? new CHttpFile(hFile, this) : new CStdioFile(hFile, this);
  } catch (...) {
    ::InternetCloseHandle(hFile);
    throw;
  }
  pFile->m_pNextFile = m_pFirstFile;
  m_pFirstFile = pFile;
  return pFile;
}

void CInternetSession::Close() {
  while (m_pFirstFile) m_pFirstFile->Close();  // each Close unlinks itself
  if (m_hSession) {
    ::InternetCloseHandle(m_hSession);
    m_hSession = nullptr;
  }
}

void CInternetSession::Forget(CStdioFile* pFile) {
  for (CStdioFile** pp = &m_pFirstFile; *pp; pp = &(*pp)->m_pNextFile) {
    if (*pp == pFile) {
      *pp = pFile->m_pNextFile;
      pFile->m_pNextFile = nullptr;
      return;
    }
  }
}
