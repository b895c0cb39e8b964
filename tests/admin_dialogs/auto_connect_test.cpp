// The printer auto-connect dialog over the registry's printer keys and the document's printer list: the
// complete keys listed with their ticks, a connected printer's box refused by a click, Remove of an
// obsolete printer only, and Save into the registry and the document.
#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "admin/RegistryStore.h"
#include "admin/Resource.h"
#include "admin/TavrinAdminDoc.h"
#include "admin/ui/AutoConnectDlg.h"
#include "dialog_fixture.h"
#include "win32/registry.h"

namespace {

using tavrin::registry::SetDword;
using tavrin::registry::SetString;
using tavrin::registry::SetValue;

constexpr UINT WM_STEP = WM_APP + 100;
constexpr char kPrinters[] = "SOFTWARE\\Tavrin\\Printers";
constexpr char kSpooler[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Print\\Printers";
constexpr char kUsb[] = "System\\CurrentControlSet\\Enum\\USB";
// 192.168.1.20 as the keys carry it: the network-order address read as a little-endian u32.
constexpr DWORD kServerAddress = 192u | 168u << 8 | 1u << 16 | 20u << 24;

// Runs its steps one posted message apart, so that what a step posts (a refusal) comes before the next.
class ScriptedAutoConnect : public CAutoConnectDlg {
 public:
  using CAutoConnectDlg::CAutoConnectDlg;
  std::vector<std::function<void(ScriptedAutoConnect&)>> steps;

  int Row(const char* name) {
    for (int row = 0; row < m_lstPrinters.GetItemCount(); ++row)
      if (m_lstPrinters.GetItemText(row, kNameColumn) == name) return row;
    return -1;
  }
  // A click on the row's check box, as the mouse gives it.
  void ClickBox(const char* name) {
    RECT item{};
    m_lstPrinters.GetItemRect(Row(name), &item, LVIR_BOUNDS);
    const LPARAM at = MAKELPARAM(item.left + 6, (item.top + item.bottom) / 2);
    m_lstPrinters.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, at);
    m_lstPrinters.SendMessage(WM_LBUTTONUP, 0, at);
  }
  void SelectRow(const char* name) {
    m_lstPrinters.SetItemState(Row(name), LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  }

 protected:
  BOOL OnInitDialog() override {
    const BOOL result = CAutoConnectDlg::OnInitDialog();
    PostMessage(WM_STEP, 0, 0);
    return result;
  }
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message != WM_STEP) return CAutoConnectDlg::WindowProc(message, wParam, lParam);
    if (wParam < steps.size()) {
      steps[wParam](*this);
      PostMessage(WM_STEP, wParam + 1, 0);
    }
    return 0;
  }
};

class AutoConnectTest : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    ASSERT_TRUE(doc_.CreateEventsAndLocks());
  }
  void TearDown() override {
    doc_.StopBroadcastListener();
    doc_.WaitForPrinterMonitors();
    doc_.m_DeviceList.RemoveAll();
    doc_.CleanUp();
    DialogTest::TearDown();
  }

  static void AddPrinterKey(const std::string& name, DWORD autoReconnect, bool withPort = true) {
    const std::string key = std::string(kPrinters) + "\\" + name;
    const WORD vid = 0x04b8, pid = 0x0005, rev = 0x0100;
    ASSERT_EQ(SetDword(HKEY_LOCAL_MACHINE, key, "DeviceIP", kServerAddress), ERROR_SUCCESS);
    if (withPort) {
      ASSERT_EQ(SetDword(HKEY_LOCAL_MACHINE, key, "DevicePort", 3), ERROR_SUCCESS);
    }
    ASSERT_EQ(SetValue(HKEY_LOCAL_MACHINE, key, "Rev", REG_BINARY, &rev, 2), ERROR_SUCCESS);
    ASSERT_EQ(SetValue(HKEY_LOCAL_MACHINE, key, "Pid", REG_BINARY, &pid, 2), ERROR_SUCCESS);
    ASSERT_EQ(SetValue(HKEY_LOCAL_MACHINE, key, "Vid", REG_BINARY, &vid, 2), ERROR_SUCCESS);
    ASSERT_EQ(SetDword(HKEY_LOCAL_MACHINE, key, "AutoReconnect", autoReconnect), ERROR_SUCCESS);
  }
  static void AddSpoolerPrinter(const std::string& printer, const std::string& instanceId) {
    const std::string key = std::string(kSpooler) + "\\" + printer;
    ASSERT_EQ(SetString(HKEY_LOCAL_MACHINE, key, "Name", printer), ERROR_SUCCESS);
    ASSERT_EQ(SetString(HKEY_LOCAL_MACHINE, key + "\\PnPData", "DeviceInstanceID", instanceId), ERROR_SUCCESS);
  }
  // "Office Laser" on port 3 of 192.168.1.20, in use by this computer: its USB node, its printer.
  void ConnectOfficeLaser() {
    const std::string node = std::string(kUsb) + "\\VID_04B8&PID_0005\\6&3f2a&0&03";
    ASSERT_EQ(SetDword(HKEY_LOCAL_MACHINE, node, "UINumber", kServerAddress), ERROR_SUCCESS);
    ASSERT_EQ(SetString(HKEY_LOCAL_MACHINE, node, "ParentIdPrefix", "7&1a2b3c4d&0"), ERROR_SUCCESS);
    ASSERT_EQ(SetString(HKEY_LOCAL_MACHINE, node, "Service", "usbprint"), ERROR_SUCCESS);
    AddSpoolerPrinter("Office Laser", "USBPRINT\\EPSON\\7&1A2B3C4D&0&USB001");
    DeviceEntry device{};
    strcpy(device.ServerIp, "192.168.1.20");
    device.Class = 7;
    device.Vid = 0x04b8;
    device.Pid = 0x0005;
    device.PortNum = 3;
    device.NumInterfaces = 1;
    device.State = DEVICE_STATE_CONNECTED;
    doc_.m_DeviceList.AddTail(device);
  }
  static DWORD AutoReconnectOf(const char* name) { return CRegistryStore().GetAutoReconnect(name); }
  DWORD DocumentFlag(const char* name) {
    for (const PrinterInfo& printer : doc_.GetPrinters())
      if (strcmp(printer.PrinterName, name) == 0) return printer.AutoReconnect;
    return 99;  // not listed
  }

  CTavrinAdminDoc doc_;
};

TEST_F(AutoConnectTest, ConnectedPrinterKeepsItsSettingWhateverItsBoxIsClicked) {
  ConnectOfficeLaser();
  AddPrinterKey("Office Laser", 0);
  AddPrinterKey("Lab Printer", 0);
  AddSpoolerPrinter("Lab Printer", "USBPRINT\\OTHER\\8&FFFF&0&USB001");
  AddPrinterKey("No Port", 1, false);
  doc_.LoadAutoConnectPrinters();

  ScriptedAutoConnect dialog(&doc_);
  std::vector<std::string> rows;
  BOOL officeAfterClick = TRUE, labAfterClick = FALSE;
  size_t boxesAfterClicks = 0;
  dialog.steps = {
      [&](ScriptedAutoConnect& d) {
        for (int row = 0; row < d.m_lstPrinters.GetItemCount(); ++row)
          rows.push_back(d.m_lstPrinters.GetItemText(row, 0).GetString() + std::string(" ") +
                         d.m_lstPrinters.GetItemText(row, 1).GetString() + " " +
                         d.m_lstPrinters.GetItemText(row, 2).GetString());
        d.ClickBox("Office Laser");
        d.ClickBox("Lab Printer");
      },
      [&](ScriptedAutoConnect& d) {
        officeAfterClick = d.m_lstPrinters.GetCheck(d.Row("Office Laser"));
        labAfterClick = d.m_lstPrinters.GetCheck(d.Row("Lab Printer"));
        boxesAfterClicks = boxes_.size();
        d.SendMessage(WM_COMMAND, IDC_AUTO_CONNECT_SAVE, 0);
      },
  };
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  std::sort(rows.begin(), rows.end());
  EXPECT_EQ(rows, (std::vector<std::string>{"Lab Printer 192.168.1.20 3", "Office Laser 192.168.1.20 3"}));
  EXPECT_FALSE(officeAfterClick);
  EXPECT_TRUE(labAfterClick);
  ASSERT_EQ(boxesAfterClicks, 1u);
  EXPECT_EQ(boxes_[0].text, "Disconnect Office Laser Printer before choosing the Auto Reconncet Feature..!");
  EXPECT_EQ(boxes_[0].type & MB_ICONMASK, UINT{MB_ICONINFORMATION});
  EXPECT_EQ(AutoReconnectOf("Office Laser"), 0u);
  EXPECT_EQ(AutoReconnectOf("Lab Printer"), 1u);
  EXPECT_EQ(DocumentFlag("Lab Printer"), 1u);
  EXPECT_EQ(DocumentFlag("Office Laser"), 0u);
}

TEST_F(AutoConnectTest, RemoveTakesOutObsoletePrintersOnly) {
  AddPrinterKey("Lab Printer", 1);
  AddSpoolerPrinter("Lab Printer", "USBPRINT\\OTHER\\8&FFFF&0&USB001");
  AddPrinterKey("Gone Printer", 1);
  doc_.LoadAutoConnectPrinters();
  ScriptedAutoConnect dialog(&doc_);
  std::vector<std::string> rowsLeft;
  dialog.steps = {
      [&](ScriptedAutoConnect& d) {
        d.SelectRow("Lab Printer");
        d.SendMessage(WM_COMMAND, ID_REMOVE_PRINTER, 0);
        d.SelectRow("Gone Printer");
        d.SendMessage(WM_COMMAND, ID_REMOVE_PRINTER, 0);
        for (int row = 0; row < d.m_lstPrinters.GetItemCount(); ++row)
          rowsLeft.push_back(d.m_lstPrinters.GetItemText(row, 0).GetString());
        d.PostMessage(WM_COMMAND, IDC_AUTO_CONNECT_EXIT, 0);
      },
  };
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  EXPECT_EQ(rowsLeft, std::vector<std::string>{"Lab Printer"});
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "Lab Printer: Is not a obsolete printer!!");
  PrinterInfo info{};
  EXPECT_FALSE(CRegistryStore().GetPrinterInfo("Gone Printer", info));
  EXPECT_TRUE(CRegistryStore().GetPrinterInfo("Lab Printer", info));
  EXPECT_EQ(DocumentFlag("Gone Printer"), 99u);
  EXPECT_EQ(DocumentFlag("Lab Printer"), 1u);
}

}  // namespace
