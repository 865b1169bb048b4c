#include "app/TDownload.h"

#include <shellapi.h>

#include "app/resource.h"
#include "download/DownloadLocations.h"
#include "download/PackageTransfer.h"
#include "platform/Afx.h"
#include "platform/CDataExchange.h"
#include "platform/CInternetSession.h"
#include "platform/CPaintDC.h"
#include "platform/CStdioFile.h"

namespace {
const wchar_t kCaption[] = L"Install";
const wchar_t kCannotDownload[] =
    L"Installer cannot download the correct version.\nDo you want to visit the website?";
}  // namespace

BEGIN_MESSAGE_MAP(TDownload, CDialog)
  ON_WM_PAINT()
  ON_WM_QUERYDRAGICON()
  ON_COMMAND(IDOK, OnOK)
  ON_COMMAND(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

TDownload::TDownload()
    : CDialog(IDD_INSTALL, nullptr),
      m_hIcon(::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDI_APP))),
      m_pSession(nullptr),
      m_pFile(nullptr),
      m_bCancelled(false) {
  m_strUrl.Format(PACKAGE_URL_FORMAT, PACKAGE_NUMBER);
  m_strTempFile = GetTempFolder();
  m_strTempFile.AppendFormat(PACKAGE_FILE_FORMAT, PACKAGE_NUMBER);
}

TDownload::~TDownload() {
  if (m_pSession) {
    m_pSession->Close();
    delete m_pSession;
  }
  if (m_pFile) {
    m_pFile->Close();
    delete m_pFile;
    m_pFile = nullptr;
  }
}

POINT TDownload::IconOrigin(int nClientWidth, int nClientHeight, int cx, int cy) {
  return POINT{(nClientWidth - cx + 1) / 2, (nClientHeight - cy + 1) / 2};
}

void TDownload::DoDataExchange(CDataExchange* pDX) { DDX_Control(pDX, IDC_PROGRESS, m_progress); }

BOOL TDownload::OnInitDialog() {
  CDialog::OnInitDialog();
  SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
  m_progress.SetRange(0, PROGRESS_RANGE);
  m_progress.SetStep(1);
  PostMessage(WM_COMMAND, MAKEWPARAM(IDOK, 0), 0);
  return TRUE;
}

void TDownload::OnOK() {
  if (m_bStarted) return;
  m_bStarted = true;

  const bool bDownloaded = DownloadPackage(*this);
  if (!m_bCancelled) {
    if (bDownloaded) {
      ::ShellExecuteW(nullptr, nullptr, m_strTempFile, nullptr, nullptr, SW_SHOWNORMAL);
    } else {
      if (m_strError.IsEmpty()) m_strError = kCannotDownload;
      if (MessageBox(m_strError, kCaption, MB_OKCANCEL) == IDOK)
        ::ShellExecuteW(nullptr, L"open", WEB_SITE_URL, nullptr, nullptr, SW_SHOWNORMAL);
    }
  }
  CDialog::OnOK();
}

void TDownload::OnCancel() {
  m_bCancelled = true;
  CDialog::OnCancel();
}

void TDownload::OnPaint() {
  if (!IsIconic()) {
    CDialog::OnPaint();
    return;
  }
  CPaintDC dc(this);
  SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
  RECT rect;
  GetClientRect(&rect);
  const POINT pt = IconOrigin(rect.right - rect.left, rect.bottom - rect.top,
                              ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON));
  ::DrawIcon(dc.GetSafeHdc(), pt.x, pt.y, m_hIcon);
}

HCURSOR TDownload::OnQueryDragIcon() { return static_cast<HCURSOR>(m_hIcon); }
