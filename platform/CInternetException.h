// CInternetException: a WinInet call failed. Its text is the one Windows holds for the code.
#pragma once

#include "CException.h"

class CInternetException : public CException {
public:
  explicit CInternetException(DWORD dwError) : m_dwError(dwError) {}

  // Throws a new CInternetException for the calling thread's last error.
  [[noreturn]] static void ThrowLastError();

  CString GetErrorMessage() const override;

  const DWORD m_dwError;  // a WinInet (12000-12999) or system error code
};
