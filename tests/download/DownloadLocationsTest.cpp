#include "download/DownloadLocations.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "app/TDownload.h"
#include "platform/CStringArray.h"
#include "platform/WindowsSeams.h"

namespace {

// Deletes a folder and everything in it; a missing folder is not an error.
void RemoveTree(const std::wstring& dir) {
  WIN32_FIND_DATAW found;
  HANDLE h = ::FindFirstFileW((dir + L"\\*").c_str(), &found);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = dir + L"\\" + name;
      ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(path);
      else ::DeleteFileW(path.c_str());
    } while (::FindNextFileW(h, &found));
    ::FindClose(h);
  }
  ::RemoveDirectoryW(dir.c_str());
}

std::vector<std::wstring> Split(const wchar_t* path) {
  CStringArray parts;
  parts.Add(CString(L"left over"));
  SplitPath(CString(path), parts);
  std::vector<std::wstring> result;
  for (int i = 0; i < parts.GetSize(); ++i) result.emplace_back(parts[i]);
  return result;
}

TEST(SplitPath, Table) {
  using V = std::vector<std::wstring>;
  struct Case { const wchar_t* path; V parts; };
  const Case cases[] = {
      {L"", V{}},
      {L"C:\\Windows\\Temp", V{L"C:", L"Windows", L"Temp"}},
      {L"C:\\Windows\\Temp\\", V{L"C:", L"Windows", L"Temp"}},
      {L"\\Temp", V{L"", L"Temp"}},
      {L"\\", V{L""}},
      {L"a\\\\b", V{L"a", L"", L"b"}},
      {L"a\\\\", V{L"a", L""}},
      {L"plain", V{L"plain"}},
      {L"C:/Windows/Temp", V{L"C:/Windows/Temp"}},
      {L"\\\\server\\share\\dir", V{L"", L"", L"server", L"share", L"dir"}},
  };
  for (const Case& c : cases) EXPECT_EQ(c.parts, Split(c.path)) << "path: " << std::string(c.path, c.path + wcslen(c.path));
}

bool IsFolder(const std::wstring& path) {
  const DWORD a = ::GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}
bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void MakeFile(const std::wstring& path) {
  HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  ::CloseHandle(h);
}

// A fresh scratch folder on the Wine drive for each test, with a trailing backslash.
class ScratchTest : public ::testing::Test {
protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    ASSERT_NE(0u, ::GetTempPathW(MAX_PATH, temp));
    root = std::wstring(temp) + L"locations_test_" + std::to_wstring(::GetCurrentProcessId()) +
           L"_" + std::to_wstring(++counter) + L"\\";
    // Wine reuses process ids, and the prefix outlives a run that was cut short.
    RemoveTree(root.substr(0, root.size() - 1));
    ASSERT_TRUE(::CreateDirectoryW(root.c_str(), nullptr));
    wchar_t tmp[MAX_PATH] = {}, tempVar[MAX_PATH] = {};
    ::GetEnvironmentVariableW(L"TMP", tmp, MAX_PATH);
    ::GetEnvironmentVariableW(L"TEMP", tempVar, MAX_PATH);
    savedTmp = tmp;
    savedTemp = tempVar;
  }
  void TearDown() override {
    ::SetCurrentDirectoryW(L"C:\\");
    RemoveTree(root.substr(0, root.size() - 1));
    ::SetEnvironmentVariableW(L"TMP", savedTmp.c_str());
    ::SetEnvironmentVariableW(L"TEMP", savedTemp.c_str());
    seams::GetTempPathW = &::GetTempPathW;
    seams::GetWindowsDirectoryW = &::GetWindowsDirectoryW;
  }
  void SetTemp(const std::wstring& path) {
    ::SetEnvironmentVariableW(L"TMP", path.c_str());
    ::SetEnvironmentVariableW(L"TEMP", path.c_str());
  }
  std::wstring root, savedTmp, savedTemp;
  static int counter;
};
int ScratchTest::counter = 0;

using CreateFolderPathTest = ScratchTest;

TEST_F(CreateFolderPathTest, CreatesMissingLevelsFromTheTopAndLeavesExistingOnes) {
  const std::wstring deep = root + L"a\\b\\c";
  ASSERT_TRUE(::CreateDirectoryW((root + L"a").c_str(), nullptr));
  MakeFile(root + L"a\\keep.txt");
  EXPECT_NE(0, CreateFolderPath(CString(deep.c_str())));
  EXPECT_TRUE(IsFolder(deep));
  EXPECT_TRUE(Exists(root + L"a\\keep.txt"));  // the existing level was left alone
  // A trailing backslash behaves exactly as none; a second call creates nothing new.
  EXPECT_NE(0, CreateFolderPath(CString((deep + L"\\").c_str())));
  EXPECT_NE(0, CreateFolderPath(CString((root + L"x\\y\\").c_str())));
  EXPECT_TRUE(IsFolder(root + L"x\\y"));
}

TEST_F(CreateFolderPathTest, AFileInTheWayFailsAndNothingDeeperIsCreated) {
  MakeFile(root + L"file");
  EXPECT_EQ(0, CreateFolderPath(CString((root + L"file\\sub\\deeper").c_str())));
  EXPECT_FALSE(IsFolder(root + L"file"));
  EXPECT_FALSE(Exists(root + L"file\\sub"));
}

TEST_F(CreateFolderPathTest, DoubledBackslashIsOneMoreLevelAndTheWalkGoesOn) {
  EXPECT_NE(0, CreateFolderPath(CString((root + L"p\\\\q").c_str())));
  EXPECT_TRUE(IsFolder(root + L"p\\q"));
}

TEST_F(CreateFolderPathTest, EmptyPathDriveAloneAndRelativePaths) {
  EXPECT_EQ(0, CreateFolderPath(CString(L"")));
  EXPECT_NE(0, CreateFolderPath(CString(L"C:")));
  EXPECT_NE(0, CreateFolderPath(CString(L"C:\\")));

  ASSERT_TRUE(::SetCurrentDirectoryW(root.c_str()));
  // The first element is never created, even when it is no drive.
  EXPECT_EQ(0, CreateFolderPath(CString(L"missing\\b")));
  EXPECT_FALSE(Exists(root + L"missing"));
  ASSERT_TRUE(::CreateDirectoryW((root + L"there").c_str(), nullptr));
  EXPECT_NE(0, CreateFolderPath(CString(L"there\\b")));
  EXPECT_TRUE(IsFolder(root + L"there\\b"));
  ::SetCurrentDirectoryW(L"C:\\");
}

using GetTempFolderTest = ScratchTest;

TEST_F(GetTempFolderTest, AnExistingFolderIsReturnedAsWindowsReportsIt) {
  const std::wstring folder = root + L"t\u00e9mp \u4e2d\u6587";  // not ASCII
  ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
  SetTemp(folder);
  const CString first = GetTempFolder();
  EXPECT_EQ(folder + L"\\", std::wstring(first));
  EXPECT_EQ(std::wstring(first), std::wstring(GetTempFolder()));
  // Usable: a file of the destination's name can be made there.
  MakeFile(std::wstring(first) + L"brelmora_installer_4.exe");
}

// Every unusable temporary folder leads to the Temp folder under the Windows directory.
TEST_F(GetTempFolderTest, UnusableTemporaryFoldersTakeTheFallback) {
  wchar_t windows[MAX_PATH];
  ::GetWindowsDirectoryW(windows, MAX_PATH);
  const std::wstring fallback = std::wstring(windows) + L"\\Temp\\";
  MakeFile(root + L"a file");
  const std::wstring longPath = root + std::wstring(270 - root.size(), L'L');
  const std::wstring cases[] = {root + L"missing", root + L"a file", longPath};
  for (const std::wstring& tmp : cases) {
    SetTemp(tmp);
    EXPECT_EQ(fallback, std::wstring(GetTempFolder())) << tmp.size();
  }
  EXPECT_FALSE(Exists(root + L"missing"));  // the missing folder is not created
}

std::wstring g_windowsDirectory;
UINT WINAPI FakeWindowsDirectory(LPWSTR buffer, UINT size) {
  wcsncpy(buffer, g_windowsDirectory.c_str(), size);
  return static_cast<UINT>(g_windowsDirectory.size());
}
DWORD WINAPI FailingTempPath(DWORD, LPWSTR) { return 0; }

TEST_F(GetTempFolderTest, FallbackArithmetic) {
  seams::GetTempPathW = &FailingTempPath;
  seams::GetWindowsDirectoryW = &FakeWindowsDirectory;

  // Several trailing backslashes all go; the folder is created.
  g_windowsDirectory = root + L"win\\\\\\";
  EXPECT_EQ(root + L"win\\Temp\\", std::wstring(GetTempFolder()));
  EXPECT_TRUE(IsFolder(root + L"win\\Temp"));

  // A Windows directory at a drive root: no doubled backslash.
  g_windowsDirectory = L"C:\\";
  EXPECT_STREQ(L"C:\\Temp\\", GetTempFolder());
  EXPECT_TRUE(IsFolder(L"C:\\Temp"));

  // A fallback folder that cannot be created is still the answer.
  ASSERT_TRUE(::CreateDirectoryW((root + L"blocked").c_str(), nullptr));
  MakeFile(root + L"blocked\\Temp");
  g_windowsDirectory = root + L"blocked";
  EXPECT_EQ(root + L"blocked\\Temp\\", std::wstring(GetTempFolder()));
  EXPECT_FALSE(IsFolder(root + L"blocked\\Temp"));
}

TEST_F(GetTempFolderTest, TheDialogComposesUrlAndDestination) {
  const std::wstring folder = root + L"dest";
  ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
  SetTemp(folder);
  TDownload dlg;
  EXPECT_EQ(folder + L"\\brelmora_installer_4.exe", std::wstring(dlg.m_strTempFile));
  const std::wstring url(dlg.m_strUrl);
  EXPECT_EQ(0u, url.find(L"http://"));
  EXPECT_EQ(url.size() - wcslen(L"/installer/src4.exe"), url.find(L"/installer/src4.exe"));
  EXPECT_EQ(std::wstring(WEB_SITE_URL), url.substr(0, url.find(L"/installer/")));
  EXPECT_EQ(std::wstring(L"http://") + WEB_HOST, std::wstring(WEB_SITE_URL));
}

}  // namespace
