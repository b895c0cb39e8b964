#include "admin/ui/AboutDlg.h"

#include <cstring>

#include "admin/Resource.h"
#include "admin/TavrinAdminApp.h"
#include "win32/resources.h"

namespace {
constexpr int kIconControl = 0xFFFF;  // the template's icon place (control -1)
}

void CProgramIconStatic::OnPaint() {
  CPaintDC dc(this);
  if (HICON icon = ::LoadIcon(nullptr, MAKEINTRESOURCE(IDR_MAINFRAME))) {
    ::DrawIcon(dc.m_hDC, 0, 0, icon);
    ::DestroyIcon(icon);
  }
}

CAboutDlg::CAboutDlg(LPCSTR versionText) : CNewDialog(IDD_ABOUTBOX), m_strVersion(versionText) {}

CAboutDlg::~CAboutDlg() = default;

void CAboutDlg::DoDataExchange(CDataExchange* dx) {
  CNewDialog::DoDataExchange(dx);
  DDX_Control(dx, IDC_ABOUT_TITLE, m_stcTitle);
  DDX_Control(dx, IDOK, m_btnOK);
  DDX_Control(dx, kIconControl, m_stcIcon);
  DDX_Text(dx, IDC_ABOUT_VERSION, m_strVersion);
}

BOOL CAboutDlg::OnInitDialog() {
  CNewDialog::OnInitDialog();
  LOGFONT font{};
  font.lfWeight = FW_BOLD;
  strcpy(font.lfFaceName, "Courier New");
  m_btnOK.SetTextFont(&font);
  CTavrinAdminApp* app = GetAdminApp();
  m_btnOK.SetShade(3, 8, 100, 0, app ? app->m_clrTabBk : 0xB3AEB3);
  m_btnOK.SetTextColor(app ? app->m_clrButtonText : 0x800000);
  m_btnOK.SetIcon(IDI_OK_BUTTON, BS_LEFT, IDI_OK_BUTTON_HOT, IDI_OK_BUTTON_HOT);
  if (CFont* title = m_fonts.GetFont(1)) m_stcTitle.SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(title->m_hObject), TRUE);
  return TRUE;
}
