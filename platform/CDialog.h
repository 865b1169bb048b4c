// CDialog: a modal dialog built from a dialog template resource. DoModal creates the window,
// runs the dialog's own modal loop on the framework's message pump, and destroys the window
// when the loop ends; the object outlives its window.
#pragma once

#include "CWnd.h"

class CDialog : public CWnd {
public:
  // nIDTemplate: the RT_DIALOG resource in AfxGetResourceHandle(). pParentWnd: the owner,
  // disabled while the dialog runs; null for none.
  explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
  ~CDialog() override;  // destroys the window if it still exists
  CDialog(const CDialog&) = delete;
  CDialog& operator=(const CDialog&) = delete;

  // Runs the dialog and returns the result given to EndDialog; -1 when the window could not
  // be created (for instance, no such template), in which case nothing is shown.
  // The window is created visible (the template's WS_VISIBLE); a dialog without an owner,
  // without centring styles and not moved by OnInitDialog is centred in the primary
  // monitor's work area before it first shows.
  virtual INT_PTR DoModal();

  // Records nResult and tells the modal loop to stop at its next turn. The window is hidden
  // but not destroyed: a handler that calls EndDialog runs on to its end, and messages
  // dispatched meanwhile (nested pumps) still reach the dialog.
  void EndDialog(int nResult);

  // Dialog keyboard handling (Tab, Enter as IDOK, Esc as IDCANCEL) for input to the dialog.
  BOOL PreTranslateMessage(MSG* pMsg) override;

protected:
  // Called once the controls exist, before the window is shown. The base loads the controls
  // from the members (UpdateData(FALSE)) and returns TRUE (Windows sets the focus).
  virtual BOOL OnInitDialog();
  // The base saves the controls into the members and, when that succeeds, ends with IDOK.
  virtual void OnOK();
  // The base ends the dialog with IDCANCEL.
  virtual void OnCancel();
  // The dialog's normal painting.
  void OnPaint() { Default(); }

private:
  static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
  void CenterInWorkArea();

  const UINT m_nIDTemplate;
  CWnd* const m_pParentWnd;
  bool m_bContinueModal = false;
  INT_PTR m_nModalResult = -1;

  DECLARE_MESSAGE_MAP()
};
