#include "WindowsSeams.h"

namespace seams {
DWORD(WINAPI* GetTempPathW)(DWORD, LPWSTR) = &::GetTempPathW;
UINT(WINAPI* GetWindowsDirectoryW)(LPWSTR, UINT) = &::GetWindowsDirectoryW;
}  // namespace seams
