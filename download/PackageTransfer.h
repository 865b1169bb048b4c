// The package transfer: fetches the package URL into the destination file inside the install
// dialog's OK command, moving its progress bar and dispatching its messages between chunks.
#pragma once

class TDownload;

constexpr unsigned READ_CHUNK_SIZE = 32768;       // bytes asked of every read
constexpr long long EXPECTED_PACKAGE_SIZE = 2000000;  // bytes at the top of the bar
constexpr long long MIN_PACKAGE_SIZE = 100000;    // smallest total accepted as a package

// Downloads dlg.m_strUrl into dlg.m_strTempFile. True when the file holds at least
// MIN_PACKAGE_SIZE bytes (also after a cancel); a shorter download is deleted, an answer
// without data (no session, no response, a status other than 200, an empty body) leaves an
// empty file. Sets dlg.m_strError only when the destination cannot be created. Creates
// dlg.m_pSession and dlg.m_pFile, which the dialog owns. Reads dlg.m_bCancelled after each
// dispatch pass of the read loop. CInternetException from Read, CFileException from Write or
// Close and CMemoryException leave it; the Cancel button is then enabled.
bool DownloadPackage(TDownload& dlg);

// The bar's position for a running total: total / EXPECTED_PACKAGE_SIZE * PROGRESS_RANGE,
// truncated; past EXPECTED_PACKAGE_SIZE it goes above the range, unclamped.
int ProgressPosition(long long nTotal);

// Dispatches every message waiting for this thread, then returns; never waits. Stops early
// when it takes WM_QUIT, which is not posted again.
void PumpWaitingMessages();

// Closes, deletes and clears dlg.m_pFile; does nothing when it is null.
void CloseInternetFile(TDownload& dlg);
