// CPaintDC: the paint device context of one WM_PAINT, from BeginPaint to EndPaint.
#pragma once

#include <windows.h>

class CWnd;

class CPaintDC {
public:
  explicit CPaintDC(CWnd* pWnd);
  ~CPaintDC();
  CPaintDC(const CPaintDC&) = delete;
  CPaintDC& operator=(const CPaintDC&) = delete;

  HDC GetSafeHdc() const { return m_hDC; }

private:
  HWND m_hWnd;
  PAINTSTRUCT m_ps;
  HDC m_hDC;
};
