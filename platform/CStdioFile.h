// CStdioFile: an open internet response, read as a stream. Owns its WinInet handle and
// closes it exactly once: in Close, in its destructor, or when its session closes first.
#pragma once

#include <windows.h>
#include <wininet.h>

class CInternetSession;

class CStdioFile {
public:
  virtual ~CStdioFile();  // Close()
  CStdioFile(const CStdioFile&) = delete;
  CStdioFile& operator=(const CStdioFile&) = delete;

  // Reads up to nCount bytes into pBuffer; returns the number read, 0 at the end of the body.
  // Raises CInternetException on failure.
  UINT Read(void* pBuffer, UINT nCount);

  // The number of body bytes that can be read now without waiting (not the size of the
  // body); waits until some arrive or the body ends. 0 at the end or when the query fails.
  DWORD GetLength() const;

  // The HTTP status of the final response, after redirects; FALSE for a response without
  // one.
  virtual BOOL QueryInfoStatusCode(DWORD& dwStatusCode) const;

  // Closes the handle if it is still open. Safe to call again.
  void Close();

protected:
  friend class CInternetSession;
  CStdioFile(HINTERNET hFile, CInternetSession* pSession);

  HINTERNET m_hFile;
  CInternetSession* m_pSession;  // not owned; null once either side has closed
  CStdioFile* m_pNextFile = nullptr;  // the session's list of its open responses
};
