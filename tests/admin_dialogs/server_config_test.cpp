// The server configuration dialog against a simulated server: hidden until the configuration came, the
// pages filled from it, the checks before a save, the connected-clients rule, and the save's answers.
#include <cstring>
#include <functional>
#include <string>

#include "admin/Resource.h"
#include "admin/ui/ServerConfigDlg.h"
#include "dialog_fixture.h"
#include "reference_image.h"
#include "win32/comctl.h"
#include "win32/crt.h"

namespace {

constexpr UINT WM_GET_CONFIG_REPLY = WM_USER + 9;

// Runs `onShown` once the configuration is in the pages (inside the reply's handler).
class ScriptedConfig : public CServerConfigDlg {
 public:
  std::function<void(ScriptedConfig&)> onShown;
  BOOL visibleBeforeReply = TRUE;
  BOOL shown = FALSE;

  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message != WM_GET_CONFIG_REPLY) return CServerConfigDlg::WindowProc(message, wParam, lParam);
    visibleBeforeReply = IsWindowVisible();
    const LRESULT result = CServerConfigDlg::WindowProc(message, wParam, lParam);
    shown = IsWindowVisible();
    if (m_bShow && onShown) onShown(*this);
    return result;
  }

  void Click(CWnd& page, UINT id) { ::SendMessage(::GetDlgItem(page.m_hWnd, static_cast<int>(id)), BM_CLICK, 0, 0); }
  void Type(CWnd& page, UINT id, const char* text) { ::SetDlgItemText(page.m_hWnd, static_cast<int>(id), text); }
  std::string Text(HWND window, UINT id) {
    char text[64] = {};
    ::GetDlgItemText(window, static_cast<int>(id), text, sizeof text);
    return text;
  }
  // Typed key by key, as a person does (the edit's limit applies).
  void Keys(CWnd& page, UINT id, const char* text) {
    HWND edit = ::GetDlgItem(page.m_hWnd, static_cast<int>(id));
    for (const char* c = text; *c; ++c) ::SendMessage(edit, WM_CHAR, static_cast<unsigned char>(*c), 0);
  }
  void Save() { SendMessage(WM_COMMAND, IDC_CONFIG_SAVE, 0); }
  void Cancel() { PostMessage(WM_COMMAND, IDC_CONFIG_CANCEL, 0); }
};

void Select(SelectedServerList& list, const char* ip) {
  SelectedServerEntry entry{};
  entry.CommandPort = 1341;
  strcpy(entry.ServerIp, ip);
  list.AddTail(entry);
}

void Configured(int, zarnet::sim::ServerOptions& options) {
  options.name = "Lab Zarnet";
  options.serial_no = 4711;
  options.gate_way = "127.0.0.254";
  options.ip_config = 1;
}

class ServerConfigTest : public DialogTest {
 protected:
  // Runs the dialog on 127.0.0.n with the script; returns its result.
  INT_PTR Run(ScriptedConfig& dialog, const char* ip, std::function<void(ScriptedConfig&)> script) {
    PatientCommands();
    Select(servers_, ip);
    dialog.m_pServerList = &servers_;
    dialog.onShown = std::move(script);
    tavrin::CrtSrand(1);  // the buttons' shading noise as on a fresh start, for the picture
    return dialog.DoModal();
  }
  zarnet::sim::Server& server() { return simulator_.server(0); }
  SelectedServerList servers_;
};

TEST_F(ServerConfigTest, PagesShowTheServersConfigurationOnceItArrived) {
  StartServers(41, 1, Configured);
  ScriptedConfig dialog;
  std::string name, address, mask, gateway, serial, firmware, mac;
  int ipConfig = -1;
  UINT nameLimit = 0, passwordLimit = 0;
  BOOL enableTicked = TRUE, nameEnabled = TRUE;
  const int answeredBefore = server().commands_answered();
  EXPECT_EQ(Run(dialog, "127.0.0.41",
                [&](ScriptedConfig& d) {
                  name = d.Text(d.m_pageBasic.m_hWnd, IDC_BASIC_NAME);
                  nameEnabled = d.m_pageBasic.m_edtServerName.IsWindowEnabled();
                  nameLimit = d.m_pageBasic.m_edtServerName.GetLimitText();
                  address = d.Text(d.m_pageNetwork.m_hWnd, IDC_NETWORK_IP);
                  mask = d.Text(d.m_pageNetwork.m_hWnd, IDC_NETWORK_MASK);
                  gateway = d.Text(d.m_pageNetwork.m_hWnd, IDC_NETWORK_GATEWAY);
                  ipConfig = d.m_pageNetwork.m_cboIPConfig.GetCurSel();
                  serial = d.Text(d.m_hWnd, IDC_CONFIG_SERIAL);
                  firmware = d.Text(d.m_hWnd, IDC_CONFIG_FIRMWARE);
                  mac = d.Text(d.m_hWnd, IDC_CONFIG_MAC);
                  enableTicked = d.m_pagePassword.m_chkEnablePassword.GetCheck();
                  passwordLimit = static_cast<UINT>(
                      ::SendDlgItemMessage(d.m_pagePassword.m_hWnd, IDC_PASSWORD_NEW, EM_GETLIMITTEXT, 0, 0));
                  // The sheet as it first shows, its Basic Settings page on top.
                  EXPECT_TRUE(tavrin::test::MatchesReference(tavrin::test::RenderWindow(d.m_hWnd),
                                                             TAVRIN_REFERENCE_DIR "/configuration_sheet.png"));
                  d.Save();  // nothing ticked: closes without sending
                }),
            IDCANCEL);
  EXPECT_FALSE(dialog.visibleBeforeReply);
  EXPECT_TRUE(dialog.shown);
  EXPECT_EQ(name, "Lab Zarnet");
  EXPECT_FALSE(nameEnabled);
  EXPECT_EQ(nameLimit, 15u);
  EXPECT_EQ(passwordLimit, 7u);
  EXPECT_EQ(address, "127.0.0.41");
  EXPECT_EQ(mask, "255.255.255.0");
  EXPECT_EQ(gateway, "127.0.0.254");
  EXPECT_EQ(ipConfig, 1);
  EXPECT_EQ(serial, "4711");
  EXPECT_EQ(firmware, server().configuration().fw_version);
  EXPECT_EQ(mac, server().configuration().mac_addr);
  EXPECT_FALSE(enableTicked);
  // The read only (the server counts an answer once it is out).
  EXPECT_TRUE(server().WaitUntil([&] { return server().commands_answered() == answeredBefore + 1; },
                                 std::chrono::seconds(10)));
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(ServerConfigTest, SavedNameReachesTheServer) {
  StartServers(42, 1, Configured);
  ScriptedConfig dialog;
  EXPECT_EQ(Run(dialog, "127.0.0.42",
                [](ScriptedConfig& d) {
                  d.Click(d.m_pageBasic, IDC_BASIC_MODIFY);
                  d.Type(d.m_pageBasic, IDC_BASIC_NAME, "Front Desk");
                  d.Save();
                }),
            IDOK);
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(server().configuration().server_name, "Front Desk");
  EXPECT_EQ(server().configuration().ip_address, "127.0.0.42");
  EXPECT_TRUE(dialog.m_strNewIP.IsEmpty());
  EXPECT_EQ(dialog.m_nPasswordEnable, -1);
  EXPECT_STREQ(dialog.m_ServerComm.m_TavrinConfInfo.server_name, "Front Desk");
}

TEST_F(ServerConfigTest, ChecksStopTheSaveOnTheirPage) {
  StartServers(43, 1, Configured);
  ScriptedConfig dialog;
  std::vector<int> activeAfter;
  std::string newAfterMismatch = "x", confirmAfterMismatch = "x";
  const int answered = server().commands_answered();
  EXPECT_EQ(Run(dialog, "127.0.0.43",
                [&](ScriptedConfig& d) {
                  d.Click(d.m_pageBasic, IDC_BASIC_MODIFY);
                  d.Type(d.m_pageBasic, IDC_BASIC_NAME, "");
                  d.Save();
                  activeAfter.push_back(d.m_Sheet.GetActiveIndex());
                  d.Type(d.m_pageBasic, IDC_BASIC_NAME, "Renamed");

                  // With DHCP the addresses must still be there; a half-typed one counts as missing.
                  d.Click(d.m_pageNetwork, IDC_NETWORK_MODIFY);
                  ::SendDlgItemMessage(d.m_pageNetwork.m_hWnd, IDC_NETWORK_IP, IPM_CLEARADDRESS, 0, 0);
                  d.Save();
                  activeAfter.push_back(d.m_Sheet.GetActiveIndex());
                  d.Type(d.m_pageNetwork, IDC_NETWORK_IP, "10.0..");
                  d.Save();
                  d.Type(d.m_pageNetwork, IDC_NETWORK_IP, "10.0.0.9");
                  ::SendDlgItemMessage(d.m_pageNetwork.m_hWnd, IDC_NETWORK_MASK, IPM_CLEARADDRESS, 0, 0);
                  d.Save();
                  d.Type(d.m_pageNetwork, IDC_NETWORK_MASK, "255.0.0.0");
                  ::SendDlgItemMessage(d.m_pageNetwork.m_hWnd, IDC_NETWORK_GATEWAY, IPM_CLEARADDRESS, 0, 0);
                  d.Save();
                  d.Click(d.m_pageNetwork, IDC_NETWORK_MODIFY);

                  d.Click(d.m_pagePassword, IDC_PASSWORD_MODIFY);
                  d.Save();
                  activeAfter.push_back(d.m_Sheet.GetActiveIndex());
                  d.Type(d.m_pagePassword, IDC_PASSWORD_NEW, "abc");
                  d.Type(d.m_pagePassword, IDC_PASSWORD_CONFIRM, "abd");
                  d.Save();
                  newAfterMismatch = d.Text(d.m_pagePassword.m_hWnd, IDC_PASSWORD_NEW);
                  confirmAfterMismatch = d.Text(d.m_pagePassword.m_hWnd, IDC_PASSWORD_CONFIRM);
                  d.Cancel();
                }),
            IDCANCEL);
  std::vector<std::string> texts;
  for (const auto& box : boxes_) {
    texts.push_back(box.text);
    EXPECT_EQ(box.type & MB_ICONMASK, UINT{MB_ICONEXCLAMATION}) << box.text;
  }
  EXPECT_EQ(texts, (std::vector<std::string>{"Enter server name.", "Enter IP address.", "Enter IP address.",
                                             "Enter subnet mask.", "Enter gateway address.", "Enter password.",
                                             "Mismatch in entered password values."}));
  EXPECT_EQ(activeAfter, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(newAfterMismatch, "");
  EXPECT_EQ(confirmAfterMismatch, "");
  // The read and the connected-clients questions of the IP checks went out; nothing was saved.
  EXPECT_TRUE(server().WaitUntil([&] { return server().commands_answered() - answered == 5; }, std::chrono::seconds(10)))
      << server().commands_answered() - answered;
  EXPECT_EQ(server().configuration().server_name, "Lab Zarnet");
  EXPECT_EQ(server().configuration().ip_address, "127.0.0.43");
}

void WithAClient(int n, zarnet::sim::ServerOptions& options) {
  Configured(n, options);
  zarnet::sim::Device printer;
  printer.port = 2;
  printer.device_class = 7;
  printer.busy = true;
  printer.client_ip = "127.0.0.9";
  options.devices.push_back(printer);
}

TEST_F(ServerConfigTest, IpSettingsStayWhileAComputerIsConnectedButOtherPagesSave) {
  StartServers(44, 1, WithAClient);
  ScriptedConfig dialog;
  BOOL stillOpen = FALSE;
  EXPECT_EQ(Run(dialog, "127.0.0.44",
                [&](ScriptedConfig& d) {
                  d.Click(d.m_pageNetwork, IDC_NETWORK_MODIFY);
                  d.Type(d.m_pageNetwork, IDC_NETWORK_IP, "10.1.2.3");
                  d.Save();
                  stillOpen = d.IsWindowVisible() && d.m_btnSave.IsWindowEnabled();
                  d.Click(d.m_pageNetwork, IDC_NETWORK_MODIFY);
                  d.Click(d.m_pagePassword, IDC_PASSWORD_MODIFY_ENABLE);
                  d.Click(d.m_pagePassword, IDC_PASSWORD_ENABLE);
                  d.Click(d.m_pagePassword, IDC_PASSWORD_MODIFY);
                  d.Keys(d.m_pagePassword, IDC_PASSWORD_NEW, "seven77x");  // the eighth is refused
                  d.Type(d.m_pagePassword, IDC_PASSWORD_CONFIRM, "seven77");
                  d.Save();
                }),
            IDOK);
  EXPECT_TRUE(stillOpen);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text,
            "Some of the devices are in connected to this server. Please disconnect before changing the settings.");
  EXPECT_EQ(boxes_[0].type & MB_ICONMASK, UINT{MB_ICONINFORMATION});
  EXPECT_EQ(server().configuration().ip_address, "127.0.0.44");
  EXPECT_TRUE(server().configuration().password_enable);
  EXPECT_EQ(server().configuration().password, "seven77");
  EXPECT_EQ(dialog.m_nPasswordEnable, 1);
  EXPECT_TRUE(dialog.m_strNewIP.IsEmpty());
}

TEST_F(ServerConfigTest, ReadFailureClosesBeforeTheDialogWasShown) {
  StartServers(45, 1);
  ScriptedConfig dialog;
  EXPECT_EQ(Run(dialog, "127.0.0.46", nullptr), IDCANCEL);  // nobody there
  EXPECT_FALSE(dialog.shown);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "Error in getting the configiration !!");
  EXPECT_EQ(boxes_[0].type & MB_ICONMASK, UINT{MB_ICONERROR});
}

TEST_F(ServerConfigTest, RefusedSaveLeavesTheRecordAsTheServerHasIt) {
  StartServers(47, 1, Configured);
  ScriptedConfig dialog;
  EXPECT_EQ(Run(dialog, "127.0.0.47",
                [&](ScriptedConfig& d) {
                  zarnet::sim::Fault refuse;
                  refuse.kind = zarnet::sim::FaultKind::kEarlyClose;
                  refuse.command = 5;
                  server().AddFault(refuse);
                  d.Click(d.m_pageBasic, IDC_BASIC_MODIFY);
                  d.Type(d.m_pageBasic, IDC_BASIC_NAME, "Never Saved");
                  d.Save();
                }),
            IDCANCEL);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "Error in saving the configiration !!");
  EXPECT_EQ(boxes_[0].type & MB_ICONMASK, UINT{MB_ICONERROR});
  EXPECT_STREQ(dialog.m_ServerComm.m_TavrinConfInfo.server_name, "Lab Zarnet");
  EXPECT_EQ(DWORD{dialog.m_ServerComm.m_TavrinConfInfo.basic_changed}, 0u);  // a copy: the field is packed
  EXPECT_EQ(server().configuration().server_name, "Lab Zarnet");
}

}  // namespace
