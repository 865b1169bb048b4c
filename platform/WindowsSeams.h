// The few Windows calls that tests replace, where Wine cannot stage a case (a Windows
// directory at a drive root, a temporary-folder query that fails). The program calls them
// through these pointers, which start out as the real functions; nothing else changes them.
#pragma once

#include <windows.h>

namespace seams {
extern DWORD(WINAPI* GetTempPathW)(DWORD nBufferLength, LPWSTR lpBuffer);
extern UINT(WINAPI* GetWindowsDirectoryW)(LPWSTR lpBuffer, UINT uSize);
}  // namespace seams
