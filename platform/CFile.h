// CFile: a file opened for writing, owning its handle, which it closes exactly once.
#pragma once

#include <windows.h>

#include "CString.h"

class CFile {
public:
  enum OpenFlags : UINT { modeWrite = 0x0001, modeCreate = 0x1000 };

  CFile() = default;
  ~CFile();  // closes a handle that is still open, ignoring errors
  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;

  // Opens pszFileName. modeCreate creates the file anew or truncates it; modeWrite opens it
  // for writing only. The file is shared with no other opener. Returns FALSE on failure,
  // without an exception; paths of MAX_PATH (260) characters or more are refused.
  BOOL Open(const wchar_t* pszFileName, UINT nOpenFlags);

  // Writes all nCount bytes or raises CFileException (a short write counts as a full disk).
  void Write(const void* pBuffer, UINT nCount);

  // Closes the handle; raises CFileException when Windows reports a failure. The handle is
  // gone either way.
  void Close();

private:
  HANDLE m_hFile = INVALID_HANDLE_VALUE;
  CString m_strFileName;  // full path, for error texts
};
