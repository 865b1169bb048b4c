// CDataExchange: one exchange between a dialog's controls and its members, and DDX_Control,
// which binds a control wrapper to its control.
#pragma once

class CWnd;

class CDataExchange {
public:
  CDataExchange(CWnd* pDlgWnd, int bSaveAndValidate)
      : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}

  const int m_bSaveAndValidate;  // nonzero: from the controls into the members
  CWnd* const m_pDlgWnd;         // the dialog; not owned
};

// Binds rControl to the dialog's child nIDC the first time; later calls, and the saving
// direction, change nothing. rControl does not own the control.
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);
