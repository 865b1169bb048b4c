#include "CDialog.h"

#include "Afx.h"
#include "CException.h"
#include "CWinThread.h"

BEGIN_MESSAGE_MAP(CDialog, CWnd)
  ON_COMMAND(IDOK, OnOK)
  ON_COMMAND(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

CDialog::~CDialog() {
  if (m_hWnd) ::DestroyWindow(m_hWnd);
  // A dialog whose window never existed was never cleared from the main-window pointer.
  CWinThread* pThread = AfxGetThread();
  if (pThread && pThread->m_pMainWnd == this) pThread->m_pMainWnd = nullptr;
}

INT_PTR CDialog::DoModal() {
  const HINSTANCE hInstance = AfxGetResourceHandle();
  const HRSRC hResource = ::FindResourceW(hInstance, MAKEINTRESOURCEW(m_nIDTemplate), RT_DIALOG);
  const HGLOBAL hTemplate = hResource ? ::LoadResource(hInstance, hResource) : nullptr;
  const auto* pTemplate = static_cast<const DLGTEMPLATE*>(hTemplate ? ::LockResource(hTemplate) : nullptr);
  if (!pTemplate) return -1;

  const HWND hWndParent = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
  m_bContinueModal = true;
  m_nModalResult = -1;
  if (!::CreateDialogIndirectParamW(hInstance, pTemplate, hWndParent, &CDialog::DialogProc,
                                    reinterpret_cast<LPARAM>(this)))
    return -1;
  if (hWndParent) ::EnableWindow(hWndParent, FALSE);

  CWinThread localThread;  // only for a caller without an application object (tests)
  CWinThread* pThread = AfxGetThread() ? AfxGetThread() : &localThread;
  while (m_bContinueModal && m_hWnd) {
    if (!pThread->PumpMessage()) {
      ::PostQuitMessage(0);  // leave the quit for the loop that called us
      break;
    }
  }

  if (hWndParent) ::EnableWindow(hWndParent, TRUE);
  if (m_hWnd) {
    ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0,
                   SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_NOZORDER);
    ::DestroyWindow(m_hWnd);
  }
  return m_nModalResult;
}

void CDialog::EndDialog(int nResult) {
  m_nModalResult = nResult;
  m_bContinueModal = false;
  if (m_hWnd) ::EndDialog(m_hWnd, nResult);
}

BOOL CDialog::PreTranslateMessage(MSG* pMsg) { return ::IsDialogMessageW(m_hWnd, pMsg); }

BOOL CDialog::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

void CDialog::OnOK() {
  if (UpdateData(TRUE)) EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

// Only WM_INITDIALOG is handled here; from then on the window is subclassed and every
// message goes through the message map, with the dialog manager as the default processing.
INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT message, WPARAM /*wParam*/, LPARAM lParam) {
  if (message != WM_INITDIALOG) return FALSE;
  auto* pDialog = reinterpret_cast<CDialog*>(lParam);
  pDialog->SubclassWindow(hWnd);

  RECT rectBefore;
  ::GetWindowRect(hWnd, &rectBefore);
  BOOL bResult = TRUE;
  try {
    bResult = pDialog->OnInitDialog();
  } catch (CException* e) {
    e->ReportError(hWnd, MB_OK | MB_ICONSTOP, L"Command failed.");
    e->Delete();
  }
  RECT rectAfter;
  if (pDialog->m_hWnd && ::GetWindowRect(hWnd, &rectAfter) && ::EqualRect(&rectBefore, &rectAfter))
    pDialog->CenterInWorkArea();
  return bResult;
}

void CDialog::CenterInWorkArea() {
  const LONG nStyle = ::GetWindowLongW(m_hWnd, GWL_STYLE);
  if ((nStyle & (WS_CHILD | DS_CENTER | DS_CENTERMOUSE | DS_ABSALIGN)) || m_pParentWnd) return;
  RECT rectWork, rectWindow;
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &rectWork, 0);
  ::GetWindowRect(m_hWnd, &rectWindow);
  const int nWidth = rectWindow.right - rectWindow.left;
  const int nHeight = rectWindow.bottom - rectWindow.top;
  ::SetWindowPos(m_hWnd, nullptr, rectWork.left + (rectWork.right - rectWork.left - nWidth) / 2,
                 rectWork.top + (rectWork.bottom - rectWork.top - nHeight) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
