#include "CMemoryException.h"

#include "Afx.h"

CString CMemoryException::GetErrorMessage() const { return CString(L"Out of memory."); }

int CMemoryException::ReportError(HWND hWndOwner, UINT /*nType*/,
                                  const wchar_t* /*pszFallback*/) const {
  // No CString here: there may be no memory left to build one.
  return ::MessageBoxW(hWndOwner, L"Out of memory.", AfxGetAppName(),
                       MB_OK | MB_ICONEXCLAMATION | MB_SYSTEMMODAL);
}

void AfxThrowMemoryException() {
  static CMemoryException s_exception;
  throw &s_exception;
}
