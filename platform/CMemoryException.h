// CMemoryException: memory ran out. Reported as "Out of memory.", system-modal, with an
// exclamation icon, whatever the caller asks for.
#pragma once

#include "CException.h"

// Throws the one memory exception. It is not allocated when thrown, since memory has run
// out; its Delete() does nothing.
[[noreturn]] void AfxThrowMemoryException();

class CMemoryException : public CException {
public:
  CString GetErrorMessage() const override;
  int ReportError(HWND hWndOwner, UINT nType, const wchar_t* pszFallback) const override;

private:
  friend void AfxThrowMemoryException();
  CMemoryException() : CException(false) {}
};
