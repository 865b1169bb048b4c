#include "CWnd.h"

#include "Afx.h"
#include "CDataExchange.h"
#include "CException.h"
#include "CWinThread.h"

namespace {
const wchar_t kWndProperty[] = L"CWnd";
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd) {
  return hWnd ? static_cast<CWnd*>(::GetPropW(hWnd, kWndProperty)) : nullptr;
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
  return ::SendMessageW(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
  return ::PostMessageW(m_hWnd, message, wParam, lParam);
}

CWnd CWnd::GetDlgItem(int nID) const { return CWnd(::GetDlgItem(m_hWnd, nID)); }

BOOL CWnd::EnableWindow(BOOL bEnable) const { return ::EnableWindow(m_hWnd, bEnable); }

BOOL CWnd::IsIconic() const { return ::IsIconic(m_hWnd); }

void CWnd::GetClientRect(RECT* pRect) const { ::GetClientRect(m_hWnd, pRect); }

int CWnd::MessageBox(const wchar_t* pszText, const wchar_t* pszCaption, UINT nType) const {
  return ::MessageBoxW(m_hWnd, pszText, pszCaption, nType);
}

BOOL CWnd::UpdateData(BOOL bSaveAndValidate) {
  CDataExchange dx(this, bSaveAndValidate);
  DoDataExchange(&dx);
  return TRUE;
}

BOOL CWnd::PreTranslateMessage(MSG* /*pMsg*/) { return FALSE; }

void CWnd::DoDataExchange(CDataExchange* /*pDX*/) {}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT lResult = 0;
  if (!OnWndMsg(message, wParam, &lResult))
    lResult = DefWindowProc(message, wParam, lParam);
  return lResult;
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LRESULT* pResult) {
  const UINT nID = message == WM_COMMAND ? LOWORD(wParam) : 0;
  const UINT nCode = message == WM_COMMAND ? HIWORD(wParam) : 0;
  for (const AFX_MSGMAP* pMap = GetMessageMap(); pMap;
       pMap = pMap->pfnGetBaseMap ? pMap->pfnGetBaseMap() : nullptr) {
    for (const AFX_MSGMAP_ENTRY* pEntry = pMap->lpEntries; pEntry->nSig != AfxSig_end; ++pEntry) {
      if (pEntry->nMessage != message || pEntry->nID != nID || pEntry->nCode != nCode) continue;
      switch (pEntry->nSig) {
        case AfxSig_vv:
          (this->*pEntry->pfn)();
          *pResult = 0;
          break;
        case AfxSig_hv:
          *pResult = reinterpret_cast<LRESULT>(
              (this->*reinterpret_cast<HANDLE (CCmdTarget::*)()>(pEntry->pfn))());
          break;
        case AfxSig_end:
          break;
      }
      return TRUE;
    }
  }
  return FALSE;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  return m_pfnSuper ? ::CallWindowProcW(m_pfnSuper, m_hWnd, message, wParam, lParam)
                    : ::DefWindowProcW(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::Default() {
  return m_pCurrentMsg
             ? DefWindowProc(m_pCurrentMsg->message, m_pCurrentMsg->wParam, m_pCurrentMsg->lParam)
             : 0;
}

void CWnd::SubclassWindow(HWND hWnd) {
  m_hWnd = hWnd;
  ::SetPropW(hWnd, kWndProperty, this);
  m_pfnSuper = reinterpret_cast<WNDPROC>(
      ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::AfxWndProc)));
}

void CWnd::UnsubclassWindow() {
  if (!m_hWnd) return;
  ::SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
  ::RemovePropW(m_hWnd, kWndProperty);
  CWinThread* pThread = AfxGetThread();
  if (pThread && pThread->m_pMainWnd == this) pThread->m_pMainWnd = nullptr;
  m_pfnSuper = nullptr;
  m_hWnd = nullptr;
}

// Every message of a subclassed window arrives here. An exception that a handler does not
// catch stops here too: it is reported to the user, freed, and the message counts as handled.
LRESULT CALLBACK CWnd::AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CWnd* pWnd = FromHandlePermanent(hWnd);
  if (!pWnd) return ::DefWindowProcW(hWnd, message, wParam, lParam);

  const MSG msg = {hWnd, message, wParam, lParam, 0, {0, 0}};
  const MSG* pOuterMsg = pWnd->m_pCurrentMsg;
  pWnd->m_pCurrentMsg = &msg;
  LRESULT lResult = 0;
  try {
    lResult = pWnd->WindowProc(message, wParam, lParam);
  } catch (CException* e) {
    // A command without a control (lParam 0) failed: the box says so when the exception
    // has no text of its own.
    e->ReportError(hWnd, MB_OK | MB_ICONSTOP, L"Command failed.");
    e->Delete();
  }
  pWnd->m_pCurrentMsg = pOuterMsg;

  if (message == WM_NCDESTROY) pWnd->UnsubclassWindow();
  return lResult;
}
