#include "CException.h"

#include "Afx.h"

CString CException::GetErrorMessage() const { return CString(); }

int CException::ReportError(HWND hWndOwner, UINT nType, const wchar_t* pszFallback) const {
  const CString strMessage = GetErrorMessage();
  return ::MessageBoxW(hWndOwner, strMessage.IsEmpty() ? pszFallback : static_cast<const wchar_t*>(strMessage),
                       AfxGetAppName(), nType);
}
