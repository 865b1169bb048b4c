#include "platform/CDialog.h"

#include <gtest/gtest.h>

#include "app/resource.h"
#include "platform/CWinApp.h"

namespace {

// A dialog on the install template whose OK command cancels itself from a nested dispatch,
// the way a click on Cancel arrives while a long handler pumps messages.
class NestedEndDialog : public CDialog {
public:
  NestedEndDialog() : CDialog(IDD_INSTALL) {}
  bool windowAliveAfterEnd = false;
  bool visibleAfterEnd = true;
  int cancels = 0;

protected:
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    PostMessage(WM_COMMAND, IDOK, 0);
    return TRUE;
  }
  void OnOK() override {
    PostMessage(WM_COMMAND, IDCANCEL, 0);
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
    windowAliveAfterEnd = m_hWnd && ::IsWindow(m_hWnd);
    visibleAfterEnd = ::IsWindowVisible(m_hWnd);
    CDialog::OnOK();  // records IDOK over IDCANCEL
  }
  void OnCancel() override {
    ++cancels;
    CDialog::OnCancel();
  }
};

TEST(CDialog, EndDialogInANestedDispatchKeepsTheWindowUntilTheHandlerReturns) {
  CWinApp app;
  NestedEndDialog dlg;
  app.m_pMainWnd = &dlg;
  EXPECT_EQ(IDOK, dlg.DoModal());
  EXPECT_EQ(1, dlg.cancels);
  EXPECT_TRUE(dlg.windowAliveAfterEnd);
  EXPECT_FALSE(dlg.visibleAfterEnd);  // ended: hidden at once
  EXPECT_EQ(nullptr, dlg.m_hWnd);
  EXPECT_EQ(nullptr, app.m_pMainWnd);
}

class MissingTemplate : public CDialog {
public:
  MissingTemplate() : CDialog(4242) {}
};

TEST(CDialog, MissingTemplateShowsNothingAndReleasesTheMainWindowPointer) {
  CWinApp app;
  {
    MissingTemplate dlg;
    app.m_pMainWnd = &dlg;
    EXPECT_EQ(-1, dlg.DoModal());
    EXPECT_EQ(nullptr, dlg.m_hWnd);
  }
  // The window never existed, so only the dialog's destruction could clear the pointer.
  EXPECT_EQ(nullptr, app.m_pMainWnd);
}

}  // namespace
