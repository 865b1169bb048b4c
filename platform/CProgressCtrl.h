// CProgressCtrl: non-owning wrapper of a progress bar; each method sends one message.
#pragma once

#include <commctrl.h>

#include "CWnd.h"

class CProgressCtrl : public CWnd {
public:
  void SetRange(short nLower, short nUpper) const {
    SendMessage(PBM_SETRANGE, 0, MAKELPARAM(nLower, nUpper));
  }
  int SetStep(int nStep) const { return static_cast<int>(SendMessage(PBM_SETSTEP, nStep, 0)); }
  // Positions outside the range are sent as they are; the control clamps them itself.
  int SetPos(int nPos) const { return static_cast<int>(SendMessage(PBM_SETPOS, nPos, 0)); }
};
