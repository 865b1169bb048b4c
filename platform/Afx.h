// The framework's global entry points: the one application object, its thread, its
// resources and its name, and the entry point that runs it.
#pragma once

#include <windows.h>

class CWinApp;
class CWinThread;

CWinApp* AfxGetApp();
// The thread object of the program's only thread: the application object.
CWinThread* AfxGetThread();
// The module that dialogs and icons are loaded from: the executable once AfxWinMain has
// started, the calling process's executable before that (tests).
HINSTANCE AfxGetResourceHandle();
// The application's name: the executable's file name without its folder and last extension
// (setup.exe gives "setup"), unless the application object was given a name. Never null.
const wchar_t* AfxGetAppName();

// Names the application and runs its InitInstance. This layer has no application-level
// message loop: a program does all its work inside InitInstance, where each window it shows
// runs its own modal loop. Returns the exit code from ExitInstance, or -1 without an
// application object.
int AfxWinMain(HINSTANCE hInstance);
