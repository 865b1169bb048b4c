#include "CWinThread.h"

#include "CWnd.h"

BOOL CWinThread::PumpMessage() {
  MSG msg;
  if (!::GetMessageW(&msg, nullptr, 0, 0)) return FALSE;
  if (!PreTranslateMessage(&msg)) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  return TRUE;
}

BOOL CWinThread::PreTranslateMessage(MSG* pMsg) {
  const bool bInput = (pMsg->message >= WM_KEYFIRST && pMsg->message <= WM_KEYLAST) ||
                      (pMsg->message >= WM_MOUSEFIRST && pMsg->message <= WM_MOUSELAST);
  if (!bInput || !pMsg->hwnd) return FALSE;
  CWnd* pWnd = CWnd::FromHandlePermanent(::GetAncestor(pMsg->hwnd, GA_ROOT));
  return pWnd && pWnd->PreTranslateMessage(pMsg);
}
