// Where the package comes from and where it goes: the package URL, the vendor's web site,
// and the destination in the user's temporary folder.
#pragma once

#include "platform/CString.h"

class CStringArray;

// WEB_HOST, the vendor's web host ("name" or "name:port"), is a wide string literal that the
// build defines; a build nobody configured uses a host under the reserved example domain.
#ifndef WEB_HOST
#define WEB_HOST L"www.brelmora.example"
#endif

constexpr int PACKAGE_NUMBER = 4;
constexpr wchar_t PACKAGE_URL_FORMAT[] = L"http://" WEB_HOST L"/installer/src%d.exe";
constexpr wchar_t WEB_SITE_URL[] = L"http://" WEB_HOST;
constexpr wchar_t PACKAGE_FILE_FORMAT[] = L"brelmora_installer_%d.exe";

// The folder for the download, ending in a backslash: the user's temporary folder exactly as
// Windows reports it when that names an existing folder of at most MAX_PATH - 1 characters;
// otherwise the Temp folder under the Windows directory, created when missing. Never fails:
// the fallback is returned whether or not its folder could be created.
CString GetTempFolder();

// Creates the missing folders of strPath from the top down. The first element (the drive,
// such as C:) is never tested or created; failures are passed over and the walk goes on.
// Nonzero when the whole path names a folder afterwards; zero for an empty path.
int CreateFolderPath(const CString& strPath);

// Splits strPath at every backslash into arFolders, which is emptied first. Empty elements
// stand for a leading or doubled backslash; one final backslash yields no element after it.
void SplitPath(const CString& strPath, CStringArray& arFolders);
