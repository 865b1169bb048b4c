#include "app/TApp.h"

#include <commctrl.h>

#include "app/TDownload.h"

BEGIN_MESSAGE_MAP(TApp, CWinApp)
END_MESSAGE_MAP()

BOOL TApp::InitInstance() {
  INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES};
  ::InitCommonControlsEx(&icc);
  CWinApp::InitInstance();

  TDownload dlg;
  m_pMainWnd = &dlg;
  dlg.DoModal();
  return FALSE;
}
