// CException: root of the framework's exceptions. They are allocated with new, thrown by
// pointer, and freed by whoever catches them with Delete().
#pragma once

#include <windows.h>

#include "CString.h"

class CException {
public:
  CException(const CException&) = delete;
  CException& operator=(const CException&) = delete;

  // Frees the exception; the catcher calls it exactly once. An exception that is not on the
  // heap (the one memory exception) ignores it.
  void Delete() {
    if (m_bAutoDelete) delete this;
  }

  // The exception's own message text for the user; empty when it has none.
  virtual CString GetErrorMessage() const;

  // Shows the exception in a message box owned by hWndOwner, captioned with the application's
  // name: its own text, or pszFallback when it has none. The box carries nType's buttons and
  // icon. Returns the button chosen.
  virtual int ReportError(HWND hWndOwner, UINT nType, const wchar_t* pszFallback) const;

protected:
  explicit CException(bool bAutoDelete = true) : m_bAutoDelete(bAutoDelete) {}
  virtual ~CException() = default;

private:
  const bool m_bAutoDelete;
};
