#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "admin/RegistryStore.h"
#include "testsupport/sysroot.h"
#include "win32/registry.h"
#include "win32/windows.h"

namespace {

using tavrin::registry::SetDword;
using tavrin::registry::SetString;
using tavrin::registry::SetValue;

constexpr char kPrinters[] = "SOFTWARE\\Tavrin\\Printers";
constexpr char kUsb[] = "System\\CurrentControlSet\\Enum\\USB";
constexpr char kDot4[] = "System\\CurrentControlSet\\Enum\\DOT4";
constexpr char kSpooler[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Print\\Printers";

// 192.168.1.20 as the nodes carry it: the network-order address read as a little-endian u32.
constexpr DWORD kServerAddress = 192u | 168u << 8 | 1u << 16 | 20u << 24;

DeviceEntry Printer(WORD port, BYTE interfaces = 1, WORD rev = 0) {
  DeviceEntry device{};
  std::strcpy(device.ServerIp, "192.168.1.20");
  device.Class = 7;
  device.Vid = 0x04b8;
  device.Pid = 0x0005;
  device.Rev = rev;
  device.PortNum = port;
  device.NumInterfaces = interfaces;
  return device;
}

class RegistryStoreTest : public tavrin::test::SysrootTest {
 protected:
  // A device node under Enum\USB\<device key>\<instance>.
  void AddUsbNode(const std::string& deviceKey, const std::string& instance, DWORD uiNumber,
                  const std::string& prefix, const std::string& service) {
    const std::string key = std::string(kUsb) + "\\" + deviceKey + "\\" + instance;
    ASSERT_EQ(SetDword(HKEY_LOCAL_MACHINE, key, "UINumber", uiNumber), ERROR_SUCCESS);
    ASSERT_EQ(SetString(HKEY_LOCAL_MACHINE, key, "ParentIdPrefix", prefix), ERROR_SUCCESS);
    ASSERT_EQ(SetString(HKEY_LOCAL_MACHINE, key, "Service", service), ERROR_SUCCESS);
  }
  void AddSpoolerPrinter(const std::string& printer, const std::string& instanceId) {
    const std::string key = std::string(kSpooler) + "\\" + printer;
    ASSERT_EQ(SetString(HKEY_LOCAL_MACHINE, key, "Name", printer), ERROR_SUCCESS);
    ASSERT_EQ(SetString(HKEY_LOCAL_MACHINE, key + "\\PnPData", "DeviceInstanceID", instanceId), ERROR_SUCCESS);
  }
  void AddPrinterKey(const std::string& name, bool withRev = true, DWORD autoReconnect = 1) {
    const std::string key = std::string(kPrinters) + "\\" + name;
    const WORD vid = 0x04b8, pid = 0x0005, rev = 0x0100;
    ASSERT_EQ(SetDword(HKEY_LOCAL_MACHINE, key, "DeviceIP", kServerAddress), ERROR_SUCCESS);
    ASSERT_EQ(SetDword(HKEY_LOCAL_MACHINE, key, "DevicePort", 3), ERROR_SUCCESS);
    if (withRev) {
      ASSERT_EQ(SetValue(HKEY_LOCAL_MACHINE, key, "Rev", REG_BINARY, &rev, 2), ERROR_SUCCESS);
    }
    ASSERT_EQ(SetValue(HKEY_LOCAL_MACHINE, key, "Pid", REG_BINARY, &pid, 2), ERROR_SUCCESS);
    ASSERT_EQ(SetValue(HKEY_LOCAL_MACHINE, key, "Vid", REG_BINARY, &vid, 2), ERROR_SUCCESS);
    ASSERT_EQ(SetDword(HKEY_LOCAL_MACHINE, key, "AutoReconnect", autoReconnect), ERROR_SUCCESS);
  }

  CRegistryStore store;
};

TEST_F(RegistryStoreTest, ProductKeyAndParameters) {
  EXPECT_FALSE(store.IsProductInstalled());
  ASSERT_EQ(SetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrin\\Parameters", "AppGuiRefreshPeriod", 700), ERROR_SUCCESS);
  EXPECT_TRUE(store.IsProductInstalled());
  DWORD level = 3, refresh = 5000, stop = 180000;
  EXPECT_TRUE(store.ReadParameters(level, refresh, stop));
  EXPECT_EQ(level, 3u);
  EXPECT_EQ(refresh, 700u);
  EXPECT_EQ(stop, 180000u);
}

TEST_F(RegistryStoreTest, PrinterKeysReadWriteAndDelete) {
  AddPrinterKey("Office Laser", true, 5);
  PrinterInfo info{};
  ASSERT_TRUE(store.GetPrinterInfo("Office Laser", info));
  EXPECT_STREQ(info.PrinterName, "Office Laser");
  EXPECT_EQ(info.AutoReconnect, 1u);  // any nonzero value reads as 1
  EXPECT_EQ(info.Vid, 0x04b8);
  EXPECT_EQ(info.Rev, 0x0100);
  EXPECT_EQ(info.DeviceIP, kServerAddress);
  EXPECT_EQ(info.DevicePort, 3);
  EXPECT_EQ(store.GetAutoReconnect("Office Laser"), 1u);
  EXPECT_EQ(store.GetAutoReconnect("Nobody"), 0u);

  // One value missing: not an auto-connect printer, though the others were read.
  AddPrinterKey("No Rev", false);
  PrinterInfo partial{};
  EXPECT_FALSE(store.GetPrinterInfo("No Rev", partial));
  EXPECT_EQ(partial.Pid, 0x0005);
  EXPECT_EQ(partial.DevicePort, 3);

  PrinterKeyRecord record{};
  record.DevicePort = 9;
  record.Rev = 0x0200;
  record.Pid = 0x1111;
  record.Vid = 0x2222;
  record.DeviceIP = kServerAddress;
  EXPECT_FALSE(store.WritePrinterKey(record, "OFFICE LASER"));  // exists with other letter case
  ASSERT_TRUE(store.WritePrinterKey(record, "Desk Inkjet"));
  PrinterInfo written{};
  ASSERT_TRUE(store.GetPrinterInfo("Desk Inkjet", written));
  EXPECT_EQ(written.AutoReconnect, 0u);
  EXPECT_EQ(written.DevicePort, 9);
  EXPECT_EQ(written.Vid, 0x2222);
  DWORD type = 0;
  auto rev = tavrin::registry::ReadValue(HKEY_LOCAL_MACHINE, std::string(kPrinters) + "\\Desk Inkjet", "Rev", &type);
  ASSERT_TRUE(rev);
  EXPECT_EQ(type, REG_BINARY);
  EXPECT_EQ(*rev, std::string("\x00\x02", 2));

  EXPECT_TRUE(store.DeletePrinter("Desk Inkjet"));
  EXPECT_FALSE(store.DeletePrinter("Desk Inkjet"));
  PrinterInfo gone{};
  EXPECT_FALSE(store.GetPrinterInfo("Desk Inkjet", gone));
}

TEST_F(RegistryStoreTest, WritePrinterKeyReportsAKeyThatCannotBeCreated) {
  // The hive cannot be written when its file's place is taken by a folder.
  const std::filesystem::path hive = root() / "registry.hive";
  std::filesystem::remove(hive);
  std::filesystem::create_directories(hive / "blocker");
  HKEY probe = nullptr;
  if (RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Probe", 0, nullptr, 0, KEY_WRITE, nullptr, &probe, nullptr) ==
      ERROR_SUCCESS) {
    RegCloseKey(probe);
    GTEST_SKIP() << "the registry here cannot be made to refuse a write";
  }
  PrinterKeyRecord record{};
  EXPECT_FALSE(store.WritePrinterKey(record, "Unwritable"));
}

TEST_F(RegistryStoreTest, ObsoletePrinterIsOneTheSpoolerNoLongerHas) {
  EXPECT_TRUE(store.IsObsoletePrinter("Office Laser"));  // no spooler key at all
  AddSpoolerPrinter("Office Laser", "USBPRINT\\EPSON\\7&1A2B&0&USB001");
  EXPECT_FALSE(store.IsObsoletePrinter("office laser"));
  EXPECT_TRUE(store.IsObsoletePrinter("Other"));
}

TEST_F(RegistryStoreTest, FindsThePrinterOfASimpleDevice) {
  AddUsbNode("VID_04B8&PID_0005", "6&3f2a&0&03", kServerAddress, "7&1a2b3c4d&0", "usbprint");
  AddSpoolerPrinter("Decoy", "USBPRINT\\OTHER\\8&FFFF&0&USB001");
  AddSpoolerPrinter("Office Laser", "USBPRINT\\EPSON\\7&1A2B3C4D&0&USB001");
  CString name;
  ASSERT_TRUE(store.GetPrinterName(Printer(3), name));
  EXPECT_EQ(name, "Office Laser");
  AddPrinterKey("Office Laser");
  EXPECT_EQ(store.IsAutoConnectDevice(Printer(3)), 1);
  DeviceEntry storage = Printer(3);
  storage.Class = 8;
  EXPECT_EQ(store.IsAutoConnectDevice(storage), 0);
}

TEST_F(RegistryStoreTest, PortsInInstanceNamesCompareAsNumbers) {
  // Port 12's node and port 7's node ("07") of the same server.
  AddUsbNode("Vid_04b8&Pid_0005", "6&aaaa&0&12", kServerAddress, "7&12&0", "usbprint");
  AddUsbNode("Vid_04b8&Pid_0005", "6&bbbb&0&07", kServerAddress, "7&07&0", "usbprint");
  AddSpoolerPrinter("Port Twelve", "USBPRINT\\X\\7&12&0&USB001");
  AddSpoolerPrinter("Port Seven", "USBPRINT\\X\\7&07&0&USB001");
  CString name;
  ASSERT_TRUE(store.GetPrinterName(Printer(7), name));
  EXPECT_EQ(name, "Port Seven");
  ASSERT_TRUE(store.GetPrinterName(Printer(12), name));
  EXPECT_EQ(name, "Port Twelve");
  EXPECT_FALSE(store.GetPrinterName(Printer(1), name));  // "12" is not port 1
  EXPECT_EQ(name, "");
  EXPECT_FALSE(store.GetPrinterName(Printer(2), name));

  EXPECT_EQ(CRegistryStore::InstancePort("6&bbbb&0&07"), 7);
  EXPECT_EQ(CRegistryStore::InstancePort("07"), 7);
  EXPECT_EQ(CRegistryStore::InstancePort("6&bbbb&0&"), -1);
  EXPECT_EQ(CRegistryStore::InstancePort("6&bbbb&0&1x"), -1);
  EXPECT_EQ(CRegistryStore::InstancePort("99999999999"), -1);
}

TEST_F(RegistryStoreTest, NodeOfAnotherServerIsNotTaken) {
  AddUsbNode("Vid_04b8&Pid_0005", "6&aaaa&0&03", kServerAddress + 1, "7&other&0", "usbprint");
  AddSpoolerPrinter("Elsewhere", "USBPRINT\\X\\7&OTHER&0&USB001");
  CString name;
  EXPECT_FALSE(store.GetPrinterName(Printer(3), name));
}

TEST_F(RegistryStoreTest, EmptyParentIdPrefixMatchesNothing) {
  AddUsbNode("Vid_04b8&Pid_0005", "6&aaaa&0&03", kServerAddress, "", "usbprint");
  AddSpoolerPrinter("Any Printer", "USBPRINT\\X\\7&1234&0&USB001");
  CString name;
  EXPECT_FALSE(store.GetPrinterName(Printer(3), name));
  EXPECT_EQ(name, "");
}

TEST_F(RegistryStoreTest, Dot4PrinterTakesTheDot4NodesPrefix) {
  AddUsbNode("Vid_04b8&Pid_0005", "6&aaaa&0&03", kServerAddress, "7&usb1&0", "dot4");
  const std::string dot4Device = std::string(kDot4) + "\\VID_04B8&PID_0005&REV_0100&PRINT";
  ASSERT_EQ(SetString(HKEY_LOCAL_MACHINE, dot4Device + "\\7&usb1&0&1", "ParentIdPrefix", "8&scan&0"), ERROR_SUCCESS);
  ASSERT_EQ(SetString(HKEY_LOCAL_MACHINE, dot4Device + "\\7&usb1&0&1", "Service", "Dot4Scan"), ERROR_SUCCESS);
  ASSERT_EQ(SetString(HKEY_LOCAL_MACHINE, dot4Device + "\\7&usb1&0&2", "ParentIdPrefix", "8&print&0"), ERROR_SUCCESS);
  ASSERT_EQ(SetString(HKEY_LOCAL_MACHINE, dot4Device + "\\7&usb1&0&2", "Service", "dot4print"), ERROR_SUCCESS);
  AddSpoolerPrinter("Via Usb", "USBPRINT\\X\\7&USB1&0&USB001");
  AddSpoolerPrinter("Via Dot4", "DOT4PRT\\X\\8&PRINT&0&PRINT");
  CString name;
  ASSERT_TRUE(store.GetPrinterName(Printer(3, 1, 0x0100), name));
  EXPECT_EQ(name, "Via Dot4");

  // Without a DOT4 node the USB node's own prefix stays.
  ASSERT_TRUE(store.GetPrinterName(Printer(3, 1, 0x0200), name));
  EXPECT_EQ(name, "Via Usb");
}

TEST_F(RegistryStoreTest, CompositeDeviceSearchesItsPrintingInterface) {
  // Interface 0 is a scanner, interface 1 the printer; the composite node itself is not used.
  AddUsbNode("Vid_04b8&Pid_0005", "6&cccc&0&05", kServerAddress, "7&composite&0", "usbccgp");
  AddUsbNode("Vid_04b8&Pid_0005&MI_00", "7&composite&0&05", kServerAddress, "8&scan&0", "usbscan");
  AddUsbNode("Vid_04b8&Pid_0005&MI_01", "7&other&0&15", kServerAddress, "8&wrongport&0", "usbprint");
  AddUsbNode("Vid_04b8&Pid_0005&MI_01", "7&composite&1&05", kServerAddress, "8&print&0", "usbprint");
  AddSpoolerPrinter("Composite", "USBPRINT\\X\\8&PRINT&0&USB001");
  AddSpoolerPrinter("Parent", "USBPRINT\\X\\7&COMPOSITE&0&USB001");
  CString name;
  ASSERT_TRUE(store.GetPrinterName(Printer(5, 2), name));
  EXPECT_EQ(name, "Composite");
  EXPECT_FALSE(store.GetPrinterName(Printer(1, 2), name));  // "15" is not port 1
}

}  // namespace
