#include "app/TDownload.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/TApp.h"
#include "platform/Afx.h"

namespace {

TEST(TDownloadIcon, OriginCentresTheIconAndTruncatesTowardZero) {
  struct Case { int width, height, icon, x, y; };
  const Case cases[] = {
      {100, 60, 32, 34, 14},  // (100 - 32 + 1) / 2, (60 - 32 + 1) / 2
      {29, 60, 32, -1, 14},   // (29 - 32 + 1) / 2 = -2 / 2
      {30, 31, 32, 0, 0},     // -1 / 2 truncates to 0, not -1
      {32, 32, 32, 0, 0},
  };
  for (const Case& c : cases) {
    const POINT pt = TDownload::IconOrigin(c.width, c.height, c.icon, c.icon);
    EXPECT_EQ(c.x, pt.x) << c.width << "x" << c.height;
    EXPECT_EQ(c.y, pt.y) << c.width << "x" << c.height;
  }
}

// Records the commands and paints the real dialog handles, in order, and what the window
// looks like when the first command arrives; ends the dialog on that command instead of
// downloading.
class ProbeDownload : public TDownload {
public:
  std::vector<std::string> events;
  LRESULT rangeHigh = -1, pos = -1;
  HICON bigIcon = nullptr, smallIcon = nullptr;
  bool visible = false;

protected:
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == WM_PAINT) events.push_back("paint");
    if (message == WM_COMMAND) events.push_back("command " + std::to_string(LOWORD(wParam)));
    return TDownload::WindowProc(message, wParam, lParam);
  }
  void OnOK() override {
    rangeHigh = m_progress.SendMessage(PBM_GETRANGE, FALSE, 0);
    pos = m_progress.SendMessage(PBM_GETPOS, 0, 0);
    bigIcon = reinterpret_cast<HICON>(SendMessage(WM_GETICON, ICON_BIG, 0));
    smallIcon = reinterpret_cast<HICON>(SendMessage(WM_GETICON, ICON_SMALL, 0));
    visible = ::IsWindowVisible(m_hWnd);
    CDialog::OnOK();
  }
};

TEST(TDownloadDialog, FirstCommandIsThePostedOkBeforeAnyPaint) {
  TApp app;  // the thread object that runs the modal loop
  INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES};
  ::InitCommonControlsEx(&icc);

  ProbeDownload dlg;
  app.m_pMainWnd = &dlg;
  ASSERT_NE(nullptr, dlg.m_hIcon);
  EXPECT_EQ(IDOK, dlg.DoModal());

  ASSERT_FALSE(dlg.events.empty());
  EXPECT_EQ("command 1", dlg.events.front());
  EXPECT_EQ(1, std::count(dlg.events.begin(), dlg.events.end(), std::string("command 1")));
  EXPECT_EQ(PROGRESS_RANGE, dlg.rangeHigh);
  EXPECT_EQ(0, dlg.pos);
  EXPECT_EQ(dlg.m_hIcon, dlg.bigIcon);
  EXPECT_EQ(dlg.m_hIcon, dlg.smallIcon);
  EXPECT_TRUE(dlg.visible);
  // DoModal destroyed the window, and with it the main-window pointer.
  EXPECT_EQ(nullptr, dlg.m_hWnd);
  EXPECT_EQ(nullptr, app.m_pMainWnd);
  EXPECT_FALSE(dlg.m_bCancelled);
}

}  // namespace
