// CWnd: a window. As a plain object it is a thin, non-owning wrapper of an HWND whose
// methods each send one message or make one call. A CWnd that is subclassed (a dialog
// created by CDialog) receives the window's messages through its message map.
#pragma once

#include "CCmdTarget.h"

class CDataExchange;

class CWnd : public CCmdTarget {
public:
  CWnd() = default;
  explicit CWnd(HWND hWnd) : m_hWnd(hWnd) {}

  HWND m_hWnd = nullptr;  // not owned

  HWND GetSafeHwnd() const { return m_hWnd; }
  // The CWnd subclassed onto hWnd, or null for a window that no CWnd receives messages for.
  static CWnd* FromHandlePermanent(HWND hWnd);

  // Operations: each one Windows call on m_hWnd.
  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
  BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
  CWnd GetDlgItem(int nID) const;  // non-owning; m_hWnd null when there is no such child
  BOOL EnableWindow(BOOL bEnable = TRUE) const;
  BOOL IsIconic() const;
  void GetClientRect(RECT* pRect) const;
  // A modal message box owned by this window; returns the button chosen.
  int MessageBox(const wchar_t* pszText, const wchar_t* pszCaption, UINT nType = MB_OK) const;

  // Runs DoDataExchange in the given direction: FALSE loads the window from the members,
  // TRUE saves the window's values into the members. TRUE when the exchange succeeded.
  BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

  // Offered keyboard and mouse input meant for this top-level window before it is
  // dispatched; TRUE consumes it. The base consumes nothing.
  virtual BOOL PreTranslateMessage(MSG* pMsg);

protected:
  // Binds controls and exchanges values with them; the base does nothing.
  virtual void DoDataExchange(CDataExchange* pDX);

  // Every message of a subclassed window: its message map, else DefWindowProc.
  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  // Looks the message up in the message maps, most derived first; TRUE when a handler ran.
  BOOL OnWndMsg(UINT message, WPARAM wParam, LRESULT* pResult);
  // The window's own procedure from before it was subclassed.
  LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  // The default processing of the message being handled now.
  LRESULT Default();

  // Routes hWnd's messages to this object until the window is destroyed; the window's
  // destruction then clears m_hWnd, and clears the main-window pointer if it named this.
  void SubclassWindow(HWND hWnd);
  // Ends the routing early; the caller destroys the window or leaves it to Windows.
  void UnsubclassWindow();

private:
  static LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

  WNDPROC m_pfnSuper = nullptr;
  const MSG* m_pCurrentMsg = nullptr;  // the message being handled, for Default()
};
