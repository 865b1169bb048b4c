// TDownload: the install dialog, and the state of the one run it performs. It starts the
// download by itself (its OnInitDialog posts IDOK), shows the progress, honours Cancel, and
// decides the outcome when the transfer has ended.
#pragma once

#include "platform/CDialog.h"
#include "platform/CProgressCtrl.h"
#include "platform/CString.h"

class CInternetSession;
class CStdioFile;

constexpr int PROGRESS_RANGE = 1000;  // the bar runs from 0 to PROGRESS_RANGE

class TDownload : public CDialog {
  DECLARE_MESSAGE_MAP()

public:
  // Resolves the download locations; may create the fallback temporary folder.
  TDownload();
  // Closes and deletes the session, then the response if one is still open.
  ~TDownload() override;

  // Where an icon of cx by cy pixels is drawn to stand centred in a client area of the given
  // size; a negative offset when the area is smaller (integer division truncates to zero).
  static POINT IconOrigin(int nClientWidth, int nClientHeight, int cx, int cy);

  // The state of the run; the transfer reads and writes it.
  HICON m_hIcon;                  // IDI_APP, shared; never released
  CInternetSession* m_pSession;   // owned; created by the transfer
  CStdioFile* m_pFile;            // owned; the open response, closed by the transfer
  CString m_strUrl;               // the package URL
  CString m_strTempFile;          // the destination file
  bool m_bCancelled;              // set by OnCancel, never cleared
  CString m_strError;             // the text of the question box when the download fails
  CProgressCtrl m_progress;       // IDC_PROGRESS, bound by DoDataExchange

protected:
  void DoDataExchange(CDataExchange* pDX) override;
  BOOL OnInitDialog() override;
  // Runs the download and its outcome. Runs once: a later IDOK (Enter pressed while the
  // transfer dispatches messages) is ignored.
  void OnOK() override;
  void OnCancel() override;
  void OnPaint();
  HCURSOR OnQueryDragIcon();

private:
  bool m_bStarted = false;  // OnOK has begun
};
