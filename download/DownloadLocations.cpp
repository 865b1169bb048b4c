#include "download/DownloadLocations.h"

#include <windows.h>

#include "platform/CStringArray.h"
#include "platform/WindowsSeams.h"

namespace {

bool IsFolder(const wchar_t* pszPath) {
  const DWORD dwAttributes = ::GetFileAttributesW(pszPath);
  return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

CString GetTempFolder() {
  wchar_t szPath[MAX_PATH] = {};
  // A result above MAX_PATH is the size a longer path would need: nothing usable was written.
  const DWORD nLength = seams::GetTempPathW(MAX_PATH, szPath);
  if (nLength != 0 && nLength < MAX_PATH && IsFolder(szPath)) return CString(szPath);

  seams::GetWindowsDirectoryW(szPath, MAX_PATH);
  CString strFolder(szPath);
  strFolder.TrimRight(L'\\');
  strFolder += L"\\Temp";
  CreateFolderPath(strFolder);
  strFolder += L'\\';
  return strFolder;
}

int CreateFolderPath(const CString& strPath) {
  CString strAccumulated;
  CStringArray arFolders;
  SplitPath(strPath, arFolders);
  for (int i = 0; i < arFolders.GetSize(); ++i) {
    strAccumulated += arFolders[i];
    strAccumulated += L'\\';
    if (i > 0 && !IsFolder(strAccumulated)) ::CreateDirectoryW(strAccumulated, nullptr);
  }
  return IsFolder(strAccumulated);
}

void SplitPath(const CString& strPath, CStringArray& arFolders) {
  arFolders.RemoveAll();
  const int n = strPath.GetLength();
  int nStart = 0;
  while (nStart < n) {
    int nEnd = strPath.Find(L'\\', nStart);
    if (nEnd < 0) nEnd = n;
    arFolders.Add(strPath.Mid(nStart, nEnd - nStart));
    nStart = nEnd + 1;
  }
}
