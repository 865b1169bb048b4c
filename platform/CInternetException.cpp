#include "CInternetException.h"

void CInternetException::ThrowLastError() { throw new CInternetException(::GetLastError()); }

CString CInternetException::GetErrorMessage() const {
  // WinInet's codes have their texts in wininet.dll's message table, the others in the
  // system's.
  wchar_t* pszText = nullptr;
  const DWORD nLength = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      ::GetModuleHandleW(L"wininet.dll"), m_dwError, 0, reinterpret_cast<wchar_t*>(&pszText), 0,
      nullptr);
  CString strMessage(nLength ? pszText : nullptr);
  ::LocalFree(pszText);
  strMessage.TrimRight(L'\n');
  strMessage.TrimRight(L'\r');
  return strMessage;
}
