#include "CStdioFile.h"

#include "CInternetException.h"
#include "CInternetSession.h"

CStdioFile::CStdioFile(HINTERNET hFile, CInternetSession* pSession)
    : m_hFile(hFile), m_pSession(pSession) {}

CStdioFile::~CStdioFile() { Close(); }

UINT CStdioFile::Read(void* pBuffer, UINT nCount) {
  DWORD nRead = 0;
  if (!::InternetReadFile(m_hFile, pBuffer, nCount, &nRead)) CInternetException::ThrowLastError();
  return nRead;
}

DWORD CStdioFile::GetLength() const {
  DWORD nAvailable = 0;
  return ::InternetQueryDataAvailable(m_hFile, &nAvailable, 0, 0) ? nAvailable : 0;
}

BOOL CStdioFile::QueryInfoStatusCode(DWORD& /*dwStatusCode*/) const { return FALSE; }

void CStdioFile::Close() {
  if (m_pSession) {
    m_pSession->Forget(this);
    m_pSession = nullptr;
  }
  if (m_hFile) {
    ::InternetCloseHandle(m_hFile);
    m_hFile = nullptr;
  }
}
