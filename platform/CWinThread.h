// CWinThread: the program's thread, its main window and its message pump.
#pragma once

#include "CCmdTarget.h"

class CWnd;

class CWinThread : public CCmdTarget {
public:
  // The main window while it exists; cleared when that window is destroyed. Not owned.
  CWnd* m_pMainWnd = nullptr;

  // Takes the next message of the thread, waiting for one, and, unless PreTranslateMessage
  // consumes it, translates and dispatches it. Returns FALSE when the message was WM_QUIT.
  virtual BOOL PumpMessage();

  // Offers keyboard and mouse input to the top-level window of ours that it is meant for,
  // so that a dialog gets its keyboard handling (Tab, Enter, Esc). TRUE when consumed.
  virtual BOOL PreTranslateMessage(MSG* pMsg);
};
