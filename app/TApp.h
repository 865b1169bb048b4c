// TApp: the application. Its InitInstance is the whole run: the install dialog, modally.
#pragma once

#include "platform/CWinApp.h"

class TApp : public CWinApp {
  DECLARE_MESSAGE_MAP()

public:
  TApp() : CWinApp(nullptr) {}  // named after the executable

  // Prepares the common controls and runs the install dialog. Returns FALSE: the process
  // ends when the dialog has closed.
  BOOL InitInstance() override;
};
