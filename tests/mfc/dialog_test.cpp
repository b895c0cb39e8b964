// CDialog with data exchange, CFormView, the control wrappers and command routing of notifications.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "../platform_win32_dialogs/template_builder.h"
#include "mfc/dialog.h"
#include "mfc/gdi.h"
#include "mfc/propsheet.h"
#include "mfc/app.h"
#include "win32/gdi_hooks.h"
#include "win32/resources.h"
#include "win32/user_draw.h"
#include "win32/window_manager.h"

namespace {

using dialog_test::TemplateBuilder;

constexpr uint16_t kButton = 0x80, kEdit = 0x81, kStatic = 0x82, kCombo = 0x85;
constexpr int kPassword = 1039, kEnable = 1038, kMode = 1040, kApply = 1073;

TemplateBuilder PasswordTemplate() {
  TemplateBuilder t(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, 0, 0, 200, 110, "Password");
  t.Control("New Password :", 1, kStatic, 7, 9, 60, 8, 0)
      .Control("", kPassword, kEdit, 70, 7, 100, 14, WS_TABSTOP | WS_BORDER | ES_PASSWORD | ES_AUTOHSCROLL)
      .Control("&Enable Password", kEnable, kButton, 70, 25, 90, 10, WS_TABSTOP | BS_AUTOCHECKBOX)
      .Control("", kMode, kCombo, 70, 40, 80, 60, WS_TABSTOP | CBS_DROPDOWNLIST)
      .Control("OK", IDOK, kButton, 20, 89, 50, 14, WS_TABSTOP | BS_DEFPUSHBUTTON)
      .Control("Cancel", IDCANCEL, kButton, 75, 89, 50, 14, WS_TABSTOP)
      .Control("Apply", kApply, kButton, 130, 89, 50, 14, WS_TABSTOP);
  return t;
}

class PasswordDialog : public CDialog {
 public:
  CString m_strPassword;
  int m_nEnable = 0;
  int m_nMode = 0;
  CEdit m_edtPassword;
  CComboBox m_cboMode;
  int changes = 0;
  int applies = 0;
  std::function<void(PasswordDialog&)> script;

  void DoDataExchange(CDataExchange* dx) override {
    DDX_Control(dx, kPassword, m_edtPassword);
    DDX_Control(dx, kMode, m_cboMode);
    DDX_Text(dx, kPassword, m_strPassword);
    DDV_MaxChars(dx, m_strPassword, 7);
    DDX_Check(dx, kEnable, m_nEnable);
    DDX_CBIndex(dx, kMode, m_nMode);
  }
  BOOL OnInitDialog() override {
    DDX_Control_Only();
    m_cboMode.AddString("Static");
    m_cboMode.AddString("DHCP");
    CDialog::OnInitDialog();
    PostMessage(WM_APP);
    return TRUE;
  }
  // The combo must hold its lines before the index is loaded.
  void DDX_Control_Only() {
    CDataExchange dx(this, FALSE);
    DDX_Control(&dx, kMode, m_cboMode);
  }
  void OnPasswordChange() { ++changes; }
  void OnApply() { ++applies; }
  LRESULT OnScript(WPARAM, LPARAM) {
    if (script) script(*this);
    return 0;
  }
  const mfc::MessageMap* GetMessageMap() const override {
    static const mfc::MessageEntry entries[] = {
        mfc::OnControl<&PasswordDialog::OnPasswordChange>(EN_CHANGE, kPassword),
        mfc::OnCommand<&PasswordDialog::OnApply>(kApply),
        mfc::OnMessage<&PasswordDialog::OnScript>(WM_APP),
    };
    static const mfc::MessageMap map{CDialog::GetMessageMap(), entries};
    return &map;
  }
};

void PostKey(HWND target, int vk) {
  ::PostMessage(target, WM_KEYDOWN, static_cast<WPARAM>(vk), 1);
  ::PostMessage(target, WM_KEYUP, static_cast<WPARAM>(vk), 0xC0000001);
}

TEST(MfcDialog, DataExchangeRoundTripThroughAModalDialog) {
  auto t = PasswordTemplate();
  PasswordDialog dlg;
  dlg.m_strPassword = "abc";
  dlg.m_nEnable = 1;
  dlg.m_nMode = 1;
  dlg.InitModalIndirect(t.Get());
  int changesAtLoad = -1;
  dlg.script = [&](PasswordDialog& d) {
    // The members reached the controls.
    char text[32];
    ::GetDlgItemText(d.m_hWnd, kPassword, text, sizeof text);
    EXPECT_STREQ(text, "abc");
    EXPECT_EQ(d.IsDlgButtonChecked(kEnable), BST_CHECKED);
    EXPECT_EQ(d.m_cboMode.GetCurSel(), 1);
    EXPECT_EQ(d.m_edtPassword.GetLimitText(), 7u) << "DDV_MaxChars limits the edit";
    changesAtLoad = d.changes;
    // The user's changes: text typed, box unchecked, combo moved, then Enter.
    d.m_edtPassword.SetSel(0, -1);
    for (char c : std::string("secret")) d.m_edtPassword.SendMessage(WM_CHAR, static_cast<WPARAM>(c), 1);
    d.CheckDlgButton(kEnable, BST_UNCHECKED);
    d.m_cboMode.SetCurSel(0);
    ::SendMessage(d.m_hWnd, WM_COMMAND, MAKEWPARAM(kApply, BN_CLICKED), 0);
    PostKey(d.m_edtPassword.m_hWnd, VK_RETURN);
  };
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(changesAtLoad, 1) << "loading the text is a change too";
  EXPECT_EQ(dlg.changes, 1 + 6);
  EXPECT_EQ(dlg.applies, 1) << "only the click, never the edit's notifications";
  EXPECT_EQ(dlg.m_strPassword, "secret");
  EXPECT_EQ(dlg.m_nEnable, 0);
  EXPECT_EQ(dlg.m_nMode, 0);
  EXPECT_EQ(dlg.m_hWnd, nullptr);
  EXPECT_EQ(dlg.m_edtPassword.m_hWnd, nullptr) << "controls let go with their dialog";
}

TEST(MfcDialog, FailedCheckKeepsTheDialogOpenAndEscapeCancels) {
  std::vector<std::string> told;
  tavrin::SetMessageBoxSink([&](const std::string& text, const std::string&, UINT) {
    told.push_back(text);
    return IDOK;
  });
  auto t = PasswordTemplate();
  PasswordDialog dlg;
  dlg.InitModalIndirect(t.Get());
  int step = 0;
  dlg.script = [&](PasswordDialog& d) {
    if (step++ == 0) {
      ::SetWindowText(d.m_edtPassword.m_hWnd, "far too long");  // past the edit's limit
      EXPECT_FALSE(d.UpdateData(TRUE));
      EXPECT_EQ(::GetFocus(), d.m_edtPassword.m_hWnd) << "the focus goes to the failing control";
      ::SendMessage(d.m_hWnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);  // OnOK fails as well
      EXPECT_TRUE(::IsWindowVisible(d.m_hWnd));
      PostKey(d.m_edtPassword.m_hWnd, VK_ESCAPE);
    }
  };
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  tavrin::SetMessageBoxSink({});
  ASSERT_EQ(told.size(), 2u);
  EXPECT_EQ(told[0], "Please enter no more than 7 characters.");
  EXPECT_EQ(dlg.m_strPassword, "far too long") << "exchanged, then refused by the check";
}

TEST(MfcDialog, ModalDialogDisablesTheOwnerAndComesBackOnWmClose) {
  CWnd owner;
  ASSERT_TRUE(owner.CreateEx(0, "owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 300, 200, nullptr, 0));
  auto t = PasswordTemplate();
  PasswordDialog dlg;
  dlg.InitModalIndirect(t.Get(), &owner);
  bool disabled = false;
  dlg.script = [&](PasswordDialog& d) {
    disabled = !owner.IsWindowEnabled();
    d.PostMessage(WM_CLOSE);
  };
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_TRUE(disabled);
  EXPECT_TRUE(owner.IsWindowEnabled());
  owner.DestroyWindow();
}

TEST(MfcDialog, ModelessDialogNavigatesThroughPreTranslateMessage) {
  auto t = PasswordTemplate();
  static std::vector<uint8_t> bytes;
  bytes = t.Bytes();
  tavrin::res::Entry entries[] = {{kRtDialog, 176, nullptr, bytes.data(), bytes.size()}};
  tavrin::res::Register(entries);
  PasswordDialog dlg;
  ASSERT_TRUE(dlg.Create(176));
  dlg.ShowWindow(SW_SHOW);
  EXPECT_EQ(CWnd::GetFocus()->m_hWnd, dlg.m_edtPassword.m_hWnd);
  MSG tab{dlg.m_edtPassword.m_hWnd, WM_KEYDOWN, VK_TAB, 1, 0, {0, 0}};
  EXPECT_TRUE(dlg.PreTranslateMessage(&tab));
  EXPECT_EQ(::GetFocus(), ::GetDlgItem(dlg.m_hWnd, kEnable));
  MSG paint{dlg.m_hWnd, WM_PAINT, 0, 0, 0, {0, 0}};
  EXPECT_FALSE(dlg.PreTranslateMessage(&paint));
  RECT rc{0, 0, 4, 8};
  dlg.MapDialogRect(&rc);
  EXPECT_GT(rc.right, 0);
  EXPECT_EQ(LOWORD(dlg.GetDefID()), IDOK);
  dlg.DestroyWindow();
  EXPECT_EQ(dlg.m_hWnd, nullptr);
}

class SettingsForm : public CFormView {
 public:
  SettingsForm() : CFormView(177) {}
  CString m_strName;
  int m_nEnable = 0;
  static int destroyed;
  ~SettingsForm() override { ++destroyed; }
  void DoDataExchange(CDataExchange* dx) override {
    DDX_Text(dx, 100, m_strName);
    DDX_Check(dx, 101, m_nEnable);
  }
};
int SettingsForm::destroyed = 0;

TEST(MfcDialog, FormViewIsAChildDialogWithDataExchange) {
  TemplateBuilder t(WS_POPUP | WS_CAPTION | DS_MODALFRAME, 0, 0, 150, 60, "Form");
  t.Control("", 100, kEdit, 5, 5, 80, 14, WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL)
      .Control("On", 101, kButton, 5, 25, 50, 10, WS_TABSTOP | BS_AUTOCHECKBOX);
  static std::vector<uint8_t> bytes;
  bytes = t.Bytes();
  tavrin::res::Entry entries[] = {{kRtDialog, 177, nullptr, bytes.data(), bytes.size()}};
  tavrin::res::Register(entries);
  CWnd frame;
  ASSERT_TRUE(frame.CreateEx(0, "frame", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 300, nullptr, 0));
  auto* form = new SettingsForm;
  ASSERT_TRUE(form->CreateEx(0, "", WS_CHILD | WS_VISIBLE, 0, 0, 300, 200, frame.m_hWnd, 0xE900));
  DWORD style = form->GetStyle();
  EXPECT_TRUE(style & WS_CHILD);
  EXPECT_FALSE(style & WS_CAPTION);
  EXPECT_EQ(form->GetDlgCtrlID(), 0xE900);
  EXPECT_EQ(form->GetParent()->m_hWnd, frame.m_hWnd);
  form->m_strName = "server";
  form->m_nEnable = 1;
  form->OnInitialUpdate();
  EXPECT_EQ(::IsDlgButtonChecked(form->m_hWnd, 101), BST_CHECKED);
  ::SetDlgItemText(form->m_hWnd, 100, "renamed");
  EXPECT_TRUE(form->UpdateData(TRUE));
  EXPECT_EQ(form->m_strName, "renamed");
  MSG tab{::GetDlgItem(form->m_hWnd, 100), WM_KEYDOWN, VK_TAB, 1, 0, {0, 0}};
  ::SetFocus(tab.hwnd);
  EXPECT_TRUE(form->PreTranslateMessage(&tab));
  EXPECT_EQ(::GetFocus(), ::GetDlgItem(form->m_hWnd, 101));
  form->DestroyWindow();  // a view deletes itself
  EXPECT_EQ(SettingsForm::destroyed, 1);
  frame.DestroyWindow();
}

TEST(MfcDialog, ControlWrappersAndStringList) {
  CWnd parent;
  ASSERT_TRUE(parent.CreateEx(0, "p", WS_POPUP | WS_VISIBLE, 0, 0, 300, 200, nullptr, 0));
  CListBox list;
  ASSERT_TRUE(list.Create(WS_CHILD | WS_VISIBLE | LBS_NOTIFY, CRect(0, 0, 100, 100), &parent, 5));
  list.AddString("one");
  list.AddString("two");
  CString text;
  list.GetText(1, text);
  EXPECT_EQ(text, "two");
  list.GetText(9, text);
  EXPECT_EQ(text, "");
  EXPECT_EQ(list.SetCurSel(1), 1);
  EXPECT_EQ(list.GetCurSel(), 1);
  CComboBox combo;
  ASSERT_TRUE(combo.Create(WS_CHILD | WS_VISIBLE | CBS_DROPDOWNLIST, CRect(110, 0, 200, 100), &parent, 6));
  combo.AddString("Static");
  combo.SetItemData(0, 42);
  EXPECT_EQ(combo.GetItemData(0), 42u);
  combo.GetLBText(0, text);
  EXPECT_EQ(text, "Static");
  CEdit edit;
  ASSERT_TRUE(edit.Create(WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, CRect(0, 110, 100, 130), &parent, 7));
  edit.SetWindowText("hello");
  edit.SetSel(1, 3);
  int from = 0, to = 0;
  edit.GetSel(from, to);
  EXPECT_EQ(from, 1);
  EXPECT_EQ(to, 3);
  edit.ReplaceSel("EL");
  edit.GetWindowText(text);
  EXPECT_EQ(text, "hELlo");
  CScrollBar bar;
  ASSERT_TRUE(bar.Create(WS_CHILD | WS_VISIBLE | SBS_HORZ, CRect(0, 140, 200, 156), &parent, 8));
  bar.SetScrollRange(0, 10);
  bar.SetScrollPos(20);
  EXPECT_EQ(bar.GetScrollPos(), 10);

  CStringList names;
  names.AddTail("a");
  names.AddTail("b");
  names.AddHead("z");
  EXPECT_EQ(names.GetCount(), 3);
  EXPECT_EQ(names.GetHead(), "z");
  POSITION at = names.Find("b");
  ASSERT_NE(at, nullptr);
  EXPECT_EQ(names.GetAt(at), "b");
  EXPECT_EQ(names.Find("q"), nullptr);
  parent.DestroyWindow();
}

}  // namespace

namespace {

constexpr int kServerName = 1071, kModify = 1074, kGateway = 1043;

class BasicPage : public CPropertyPage {
 public:
  BasicPage() : CPropertyPage(309) {}
  CString m_strServerName;
  int m_nModify = 0;
  int inits = 0;
  void DoDataExchange(CDataExchange* dx) override {
    DDX_Check(dx, kModify, m_nModify);
    DDX_Text(dx, kServerName, m_strServerName);
    DDV_MaxChars(dx, m_strServerName, 15);
  }
  BOOL OnInitDialog() override {
    ++inits;
    return CPropertyPage::OnInitDialog();
  }
};

class NetworkPage : public CPropertyPage {
 public:
  NetworkPage() : CPropertyPage(310, 0) {}
  CString m_strGateway;
  void DoDataExchange(CDataExchange* dx) override { DDX_Text(dx, kGateway, m_strGateway); }
};

void RegisterPages() {
  static std::vector<uint8_t> basic, network;
  TemplateBuilder b(WS_CHILD | DS_CONTROL, 0, 0, 234, 138, "Basic Settings");
  b.Control("Modify", kModify, kButton, 7, 7, 60, 10, WS_TABSTOP | BS_AUTOCHECKBOX)
      .Control("", kServerName, kEdit, 7, 25, 120, 14, WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL);
  TemplateBuilder n(WS_CHILD | DS_CONTROL, 0, 0, 234, 138, "IP Settings");
  n.Control("", kGateway, kEdit, 7, 7, 120, 14, WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL);
  basic = b.Bytes();
  network = n.Bytes();
  tavrin::res::Entry entries[] = {{kRtDialog, 309, nullptr, basic.data(), basic.size()},
                                  {kRtDialog, 310, nullptr, network.data(), network.size()}};
  tavrin::res::Register(entries);
}

TEST(MfcPropertySheet, TemplatePagesAreMadeWhenActivatedAndCheckedWhenLeft) {
  RegisterPages();
  std::vector<std::string> told;
  tavrin::SetMessageBoxSink([&](const std::string& text, const std::string&, UINT) {
    told.push_back(text);
    return IDOK;
  });
  CWnd host;
  ASSERT_TRUE(host.CreateEx(0, "host", WS_POPUP | WS_VISIBLE, 0, 0, 500, 400, nullptr, 0));
  BasicPage basic;
  NetworkPage network;
  EXPECT_EQ(basic.m_strCaption, "Basic Settings") << "the template's title names the tab";
  EXPECT_EQ(network.m_strCaption, "IP Settings");
  basic.m_strServerName = "zarnet-1";
  network.m_strGateway = "10.0.0.1";
  CPropertySheet sheet;
  sheet.AddPage(&basic);
  sheet.AddPage(&network);
  ASSERT_TRUE(sheet.Create(&host, WS_CHILD | WS_VISIBLE, 420, 300));
  EXPECT_EQ(sheet.GetActiveIndex(), 0);
  ASSERT_NE(basic.GetSafeHwnd(), nullptr);
  EXPECT_EQ(network.GetSafeHwnd(), nullptr) << "made on first activation";
  EXPECT_EQ(basic.inits, 1);
  char text[32];
  ::GetDlgItemText(basic.m_hWnd, kServerName, text, sizeof text);
  EXPECT_STREQ(text, "zarnet-1");
  EXPECT_TRUE(basic.GetStyle() & WS_CHILD);
  EXPECT_TRUE(basic.GetExStyle() & WS_EX_CONTROLPARENT);
  // The page lies inside the tab control's display area.
  RECT page, tabs;
  ::GetWindowRect(basic.m_hWnd, &page);
  ::GetWindowRect(sheet.GetTabControlWindow(), &tabs);
  EXPECT_GT(page.top, tabs.top + 10);
  EXPECT_LE(page.bottom, tabs.bottom);

  // Leaving a page whose data fail the check keeps it in front.
  ::SetWindowText(::GetDlgItem(basic.m_hWnd, kServerName), "a name far too long for it");
  EXPECT_FALSE(sheet.SetActivePage(1));
  EXPECT_EQ(sheet.GetActiveIndex(), 0);
  EXPECT_EQ(told.size(), 1u);
  ::SetDlgItemText(basic.m_hWnd, kServerName, "zarnet-2");
  EXPECT_TRUE(sheet.SetActivePage(&network));
  EXPECT_EQ(basic.m_strServerName, "zarnet-2");
  EXPECT_FALSE(::IsWindowVisible(basic.m_hWnd));
  EXPECT_TRUE(::IsWindowVisible(network.m_hWnd));
  ::GetDlgItemText(network.m_hWnd, kGateway, text, sizeof text);
  EXPECT_STREQ(text, "10.0.0.1");
  // The tab control's own selection change switches pages too.
  ::SendMessage(sheet.GetTabControlWindow(), TCM_SETCURSEL, 0, 0);
  NMHDR change{sheet.GetTabControlWindow(), 0x3020, TCN_SELCHANGE};
  sheet.SendMessage(WM_NOTIFY, 0x3020, reinterpret_cast<LPARAM>(&change));
  EXPECT_EQ(sheet.GetActivePage(), &basic);
  EXPECT_EQ(basic.inits, 1) << "made once";
  // Tab order runs into the page in front.
  EXPECT_EQ(GetNextDlgTabItem(host.m_hWnd, nullptr, FALSE), sheet.GetTabControlWindow());
  HWND modify = ::GetDlgItem(basic.m_hWnd, kModify);
  EXPECT_EQ(GetNextDlgTabItem(host.m_hWnd, sheet.GetTabControlWindow(), FALSE), modify);
  sheet.DestroyWindow();
  EXPECT_EQ(basic.GetSafeHwnd(), nullptr);
  EXPECT_EQ(network.GetSafeHwnd(), nullptr);
  host.DestroyWindow();
  tavrin::SetMessageBoxSink({});
}

}  // namespace

namespace {

// A pixel of a window's client area.
uint32_t PixelAt(HWND hwnd, int x, int y) {
  tavrin::win::PaintPending();
  tavrin::draw::Surface image(1, 1);
  if (!tavrin::win::CaptureWindow(hwnd, image)) return 0;
  POINT client{0, 0};
  ::ClientToScreen(hwnd, &client);
  RECT window;
  ::GetWindowRect(hwnd, &window);
  return image.at(x + client.x - window.left, y + client.y - window.top) & 0xFFFFFF;
}

TEST(MfcDialog, DialogsTakeTheApplicationsDialogColour) {
  auto t = PasswordTemplate();
  size_t before = tavrin::gdi::LiveObjectCount();
  {
    CWinApp app("Colours");
    app.SetDialogBkColor(RGB(255, 255, 247), 0);
    PasswordDialog dlg;
    ASSERT_TRUE(dlg.CreateIndirect(t.Get()));
    dlg.ShowWindow(SW_SHOW);
    EXPECT_EQ(PixelAt(dlg.m_hWnd, 3, 3), 0xFFFFF7u) << "the dialog's face";
    RECT label;
    ::GetWindowRect(::GetDlgItem(dlg.m_hWnd, 1), &label);
    ::MapWindowPoints(nullptr, dlg.m_hWnd, reinterpret_cast<POINT*>(&label), 2);
    EXPECT_EQ(PixelAt(dlg.m_hWnd, label.right - 1, label.bottom - 1), 0xFFFFF7u) << "a label";
    RECT edit;
    ::GetWindowRect(dlg.m_edtPassword.m_hWnd, &edit);
    ::MapWindowPoints(nullptr, dlg.m_hWnd, reinterpret_cast<POINT*>(&edit), 2);
    EXPECT_EQ(PixelAt(dlg.m_hWnd, edit.right - 4, (edit.top + edit.bottom) / 2), 0xFFFFFFu) << "edits stay white";
    dlg.DestroyWindow();
  }
  EXPECT_EQ(tavrin::gdi::LiveObjectCount(), before) << "the application's brush goes with it";
  // Without a colour set, the system face.
  PasswordDialog plain;
  ASSERT_TRUE(plain.CreateIndirect(t.Get()));
  plain.ShowWindow(SW_SHOW);
  COLORREF face = GetSysColor(COLOR_3DFACE);
  EXPECT_EQ(PixelAt(plain.m_hWnd, 3, 3), static_cast<uint32_t>((GetRValue(face) << 16) | (GetGValue(face) << 8) | GetBValue(face)));
  plain.DestroyWindow();
}

}  // namespace
