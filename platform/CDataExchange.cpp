#include "CDataExchange.h"

#include "CWnd.h"

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl) {
  if (!rControl.m_hWnd) rControl.m_hWnd = ::GetDlgItem(pDX->m_pDlgWnd->m_hWnd, nIDC);
}
