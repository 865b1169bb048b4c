#include "download/PackageTransfer.h"

#include <string.h>

#include <memory>

#include "app/TDownload.h"
#include "platform/Afx.h"
#include "platform/CFile.h"
#include "platform/CInternetException.h"
#include "platform/CInternetSession.h"
#include "platform/CStdioFile.h"
#include "platform/CWinThread.h"

namespace {

const wchar_t kCannotCreateFile[] =
    L"Installer cannot create temporary file.\nProbably because another installation is in progress.";

// Only a final answer of 200, after the redirects that WinInet follows, carries the package;
// an error page must never be launched as an installer.
bool IsPackageResponse(const CStdioFile& file) {
  DWORD dwStatus = 0;
  return file.QueryInfoStatusCode(dwStatus) && dwStatus == HTTP_STATUS_OK;
}

}  // namespace

bool DownloadPackage(TDownload& dlg) {
  ::DeleteFileW(dlg.m_strTempFile);
  CFile file;
  if (!file.Open(dlg.m_strTempFile, CFile::modeCreate | CFile::modeWrite)) {
    dlg.m_strError = kCannotCreateFile;
    return false;
  }

  try {
    dlg.m_pSession = new CInternetSession(nullptr, 1, INTERNET_OPEN_TYPE_PRECONFIG, nullptr,
                                          nullptr, 0);
  } catch (CInternetException* e) {
    e->Delete();
  }
  if (!dlg.m_pSession) return false;

  try {
    dlg.m_pFile = dlg.m_pSession->OpenURL(
        dlg.m_strUrl, 1, INTERNET_FLAG_RELOAD | INTERNET_FLAG_TRANSFER_BINARY, nullptr, 0);
  } catch (CInternetException* e) {
    e->Delete();
  }
  if (!dlg.m_pFile || !IsPackageResponse(*dlg.m_pFile) || dlg.m_pFile->GetLength() == 0)
    return false;

  long long nTotal = 0;
  try {
    std::unique_ptr<unsigned char[]> pBuffer(new unsigned char[READ_CHUNK_SIZE]);
    memset(pBuffer.get(), 0, READ_CHUNK_SIZE);
    UINT nRead = dlg.m_pFile->Read(pBuffer.get(), READ_CHUNK_SIZE);
    while (nRead != 0) {
      nTotal += nRead;
      file.Write(pBuffer.get(), nRead);
      dlg.m_progress.SetPos(ProgressPosition(nTotal));
      PumpWaitingMessages();
      if (dlg.m_bCancelled) break;
      memset(pBuffer.get(), 0, READ_CHUNK_SIZE);
      nRead = dlg.m_pFile->Read(pBuffer.get(), READ_CHUNK_SIZE);
    }

    dlg.GetDlgItem(IDCANCEL).EnableWindow(FALSE);
    PumpWaitingMessages();
    CloseInternetFile(dlg);
    PumpWaitingMessages();
    pBuffer.reset();
    PumpWaitingMessages();
    file.Close();
    PumpWaitingMessages();
  } catch (...) {
    // The dialog stays open after a failure: its user must be able to leave it.
    dlg.GetDlgItem(IDCANCEL).EnableWindow(TRUE);
    throw;
  }

  if (nTotal >= MIN_PACKAGE_SIZE) return true;
  ::DeleteFileW(dlg.m_strTempFile);
  return false;
}

int ProgressPosition(long long nTotal) {
  return static_cast<int>(static_cast<double>(nTotal) / static_cast<double>(EXPECTED_PACKAGE_SIZE) *
                          static_cast<double>(PROGRESS_RANGE));
}

void PumpWaitingMessages() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
    if (!AfxGetThread()->PumpMessage()) break;
  }
}

void CloseInternetFile(TDownload& dlg) {
  if (!dlg.m_pFile) return;
  dlg.m_pFile->Close();
  delete dlg.m_pFile;
  dlg.m_pFile = nullptr;
}
