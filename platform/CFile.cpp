#include "CFile.h"

#include <wchar.h>

#include "CFileException.h"

CFile::~CFile() {
  if (m_hFile != INVALID_HANDLE_VALUE) ::CloseHandle(m_hFile);
}

BOOL CFile::Open(const wchar_t* pszFileName, UINT nOpenFlags) {
  if (m_hFile != INVALID_HANDLE_VALUE || wcslen(pszFileName) >= MAX_PATH) return FALSE;

  wchar_t szFullPath[MAX_PATH];
  const DWORD nLength = ::GetFullPathNameW(pszFileName, MAX_PATH, szFullPath, nullptr);
  if (nLength == 0 || nLength >= MAX_PATH) return FALSE;

  const DWORD dwAccess = (nOpenFlags & modeWrite) ? GENERIC_WRITE : GENERIC_READ;
  const DWORD dwDisposition = (nOpenFlags & modeCreate) ? CREATE_ALWAYS : OPEN_EXISTING;
  const HANDLE hFile = ::CreateFileW(pszFileName, dwAccess, 0, nullptr, dwDisposition,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
  if (hFile == INVALID_HANDLE_VALUE) return FALSE;
  m_hFile = hFile;
  m_strFileName = szFullPath;
  return TRUE;
}

void CFile::Write(const void* pBuffer, UINT nCount) {
  DWORD nWritten = 0;
  if (!::WriteFile(m_hFile, pBuffer, nCount, &nWritten, nullptr))
    CFileException::ThrowOsError(static_cast<LONG>(::GetLastError()), m_strFileName);
  if (nWritten != nCount) throw new CFileException(CFileException::diskFull, 0, m_strFileName);
}

void CFile::Close() {
  const HANDLE hFile = m_hFile;
  m_hFile = INVALID_HANDLE_VALUE;
  if (hFile != INVALID_HANDLE_VALUE && !::CloseHandle(hFile))
    CFileException::ThrowOsError(static_cast<LONG>(::GetLastError()), m_strFileName);
}
