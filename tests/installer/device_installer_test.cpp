#include <gtest/gtest.h>

#include <filesystem>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <vector>

#include "installer/DeviceInstaller.h"
#include "kernel_host/kernel_host.h"
#include "pelkobus/busenum.h"
#include "vizorido/vizorido.h"
#include "win32/file.h"
#include "win32/module.h"
#include "testsupport/interfaces.h"
#include "testsupport/sysroot.h"
#include "win32/builtin_modules.h"
#include "win32/devices/device_nodes.h"
#include "win32/registry.h"
#include "win32/setupapi.h"
#include "win32/sysroot.h"

namespace {

namespace fs = std::filesystem;
using installer::DeviceInstaller;
using installer::PatternMatch;

TEST(HardwareIdPattern, StarsCaseAndWholeText) {
  EXPECT_TRUE(PatternMatch("root\\VIZORIDO", "root\\vizorido"));
  EXPECT_FALSE(PatternMatch("root\\vizorido2", "root\\vizorido"));
  EXPECT_TRUE(PatternMatch("{B85B7C50-6A01-11d2-B841-00C04FAD5171}\\VirtualUsb", "{b85b7c50*}\\virtualusb"));
  EXPECT_TRUE(PatternMatch("ROOT\\VIZORIDO\\0000", "root\\*\\00*"));
  EXPECT_TRUE(PatternMatch("abcXdefXghi", "abc*def*ghi"));
  EXPECT_FALSE(PatternMatch("abcXdeXghi", "abc*def*ghi"));
  EXPECT_TRUE(PatternMatch("abc", "abc**"));
  EXPECT_TRUE(PatternMatch("PCI\\VEN_1234", "*ven_1234"));
  EXPECT_FALSE(PatternMatch("PCI\\VEN_1234", "*ven_12345"));
  EXPECT_TRUE(PatternMatch("aXbYb", "a*b"));
}

// A fresh sysroot with the install medium under D:\Setup and, when asked, a kernel host.
class DeviceInstallerTest : public tavrin::test::SysrootTest {
 protected:
  void SetUp() override {
    SysrootTest::SetUp();
    media_ = tavrin::sysroot::MapPath("D:\\Setup");
    fs::create_directories(media_);
    for (const char* f : {"vizorido.inf", "pelkobus.inf", "vizorido.sys", "pelkobus.sys"})
      fs::copy_file(fs::path(TAVRIN_MEDIA_DIR) / f, media_ / f);
    installer_.SetRemoveTexts("Removed", "Removed on reboot", "Remove failed");
  }
  void TearDown() override {
    host_.reset();
    tavrin::modules::SetBuiltinModuleEnabled("newdev.dll", true);
    SysrootTest::TearDown();
  }
  void StartHost() {
    host_.reset();  // the old host stops serving the sysroot before the new one starts
    host_ = std::make_unique<tavrin::kernel_host::KernelHost>();
    ASSERT_TRUE(host_->Start());
  }
  bool LiveNode(const std::string& instanceId, bool* started = nullptr) {
    for (const auto& n : tavrin::device_nodes::QueryLiveNodes())
      if (n.instanceId == instanceId) {
        if (started) *started = n.started;
        return true;
      }
    return false;
  }
  fs::path media_;
  DeviceInstaller installer_;
  std::unique_ptr<tavrin::kernel_host::KernelHost> host_;
};

TEST_F(DeviceInstallerTest, InstallRegistersTheNodeAndLoadsItsDriver) {
  StartHost();
  DWORD reboot = 0;
  ASSERT_EQ(installer_.cmdInstall("D:\\Setup\\vizorido.inf", "root\\vizorido", &reboot), installer::kInstallOk);
  EXPECT_EQ(reboot, 0u);
  auto nodes = tavrin::device_nodes::Load();
  ASSERT_EQ(nodes.size(), 1u);
  EXPECT_EQ(nodes[0].instanceId, "ROOT\\VIZORIDO\\0000");
  EXPECT_EQ(nodes[0].service, "vizorido");
  bool started = false;
  EXPECT_TRUE(LiveNode("ROOT\\VIZORIDO\\0000", &started));
  EXPECT_TRUE(started);
  EXPECT_TRUE(fs::exists(tavrin::sysroot::MapPath("C:\\WINDOWS\\System32\\drivers\\vizorido.sys")));
  EXPECT_TRUE(fs::exists(tavrin::sysroot::MapPath("C:\\WINDOWS\\inf\\vizorido.inf")));
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\vizorido\\Parameters", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  RegCloseKey(key);

  // Removal takes the node out of the store and the kernel host.
  EXPECT_EQ(installer_.cmdRemove("root\\vizorido"), installer::kRemoveOk);
  EXPECT_EQ(installer_.removedCount(), 1);
  EXPECT_TRUE(tavrin::device_nodes::Load().empty());
  EXPECT_FALSE(LiveNode("ROOT\\VIZORIDO\\0000"));
}

TEST_F(DeviceInstallerTest, WithoutKernelHostTheDriverWaitsForARestart) {
  DWORD reboot = 0;
  ASSERT_EQ(installer_.cmdInstall("D:\\Setup\\vizorido.inf", "root\\vizorido", &reboot), installer::kInstallOk);
  EXPECT_EQ(reboot, 1u);
  // The next start of the kernel host brings the node up.
  StartHost();
  bool started = false;
  EXPECT_TRUE(LiveNode("ROOT\\VIZORIDO\\0000", &started));
  EXPECT_TRUE(started);
}

TEST_F(DeviceInstallerTest, InstallFailuresReturnTheFailureAndLeaveNoNode) {
  DWORD reboot = 0;
  EXPECT_EQ(installer_.cmdInstall("", "root\\vizorido", &reboot), installer::kInstallEmptyArgument);
  EXPECT_EQ(installer_.cmdInstall("D:\\Setup\\vizorido.inf", "", &reboot), installer::kInstallEmptyArgument);
  // An INF whose class cannot be read.
  std::ofstream(media_ / "broken.inf") << "[Version]\nSignature=\"$WINDOWS NT$\"\n";
  EXPECT_EQ(installer_.cmdInstall("D:\\Setup\\broken.inf", "root\\vizorido", &reboot), installer::kInstallFailed);
  EXPECT_TRUE(tavrin::device_nodes::Load().empty());
  // The driver update fails: the INF does not name the id.
  EXPECT_EQ(installer_.cmdInstall("D:\\Setup\\vizorido.inf", "root\\other", &reboot), installer::kInstallFailed);
  EXPECT_TRUE(tavrin::device_nodes::Load().empty());
  // newdev.dll is missing.
  tavrin::modules::SetBuiltinModuleEnabled("newdev.dll", false);
  EXPECT_EQ(installer_.cmdInstall("D:\\Setup\\vizorido.inf", "root\\vizorido", &reboot), installer::kInstallFailed);
  EXPECT_TRUE(tavrin::device_nodes::Load().empty());
}

// A node of the id registered without its driver, as a run killed inside cmdInstall leaves it.
void RegisterBareNode(const char* hardwareId) {
  GUID classGuid{};
  char className[32];
  ASSERT_TRUE(SetupDiGetINFClass("D:\\Setup\\vizorido.inf", &classGuid, className, sizeof className, nullptr));
  HDEVINFO set = SetupDiCreateDeviceInfoList(&classGuid, nullptr);
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  char ids[64] = {};
  std::strncpy(ids, hardwareId, sizeof ids - 2);
  ASSERT_TRUE(SetupDiCreateDeviceInfo(set, className, &classGuid, nullptr, nullptr, DICD_GENERATE_ID, &device));
  ASSERT_TRUE(SetupDiSetDeviceRegistryProperty(set, &device, SPDRP_HARDWAREID, reinterpret_cast<const BYTE*>(ids),
                                               static_cast<DWORD>(std::strlen(ids) + 2)));
  ASSERT_TRUE(SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device));
  SetupDiDestroyDeviceInfoList(set);
}

TEST_F(DeviceInstallerTest, NodesThatAnEarlierRunLeftMakeWayForTheOneNode) {
  StartHost();
  // Left without a driver, and two of them (as reruns made before they made way).
  RegisterBareNode("root\\vizorido");
  RegisterBareNode("root\\VIZORIDO");
  ASSERT_EQ(tavrin::device_nodes::Load().size(), 2u);
  DWORD reboot = 0;
  ASSERT_EQ(installer_.cmdInstall("D:\\Setup\\vizorido.inf", "root\\vizorido", &reboot), installer::kInstallOk);
  auto nodes = tavrin::device_nodes::Load();
  ASSERT_EQ(nodes.size(), 1u);
  EXPECT_EQ(nodes[0].instanceId, "ROOT\\VIZORIDO\\0000");
  EXPECT_EQ(nodes[0].service, "vizorido");
  // Once more, as a rerun after a kill between the node and the history does.
  ASSERT_EQ(installer_.cmdInstall("D:\\Setup\\vizorido.inf", "root\\vizorido", &reboot), installer::kInstallOk);
  nodes = tavrin::device_nodes::Load();
  ASSERT_EQ(nodes.size(), 1u);
  EXPECT_EQ(nodes[0].instanceId, "ROOT\\VIZORIDO\\0000");
  bool started = false;
  EXPECT_TRUE(LiveNode("ROOT\\VIZORIDO\\0000", &started));
  EXPECT_TRUE(started);
  EXPECT_FALSE(LiveNode("ROOT\\VIZORIDO\\0001"));
}

TEST_F(DeviceInstallerTest, RemoveResults) {
  // Nothing there: done.
  EXPECT_EQ(installer_.cmdRemove("root\\vizorido"), installer::kRemoveOk);
  EXPECT_EQ(installer_.removedCount(), 0);
  // Without its texts the removal fails.
  DeviceInstaller bare;
  EXPECT_EQ(bare.cmdRemove("root\\vizorido"), installer::kRemoveFailed);
  // A phantom node (registered, no kernel host) is removed too.
  DWORD reboot = 0;
  ASSERT_EQ(installer_.cmdInstall("D:\\Setup\\vizorido.inf", "root\\vizorido", &reboot), installer::kInstallOk);
  EXPECT_EQ(installer_.cmdRemove("root\\vizorido"), installer::kRemoveOk);
  EXPECT_EQ(installer_.removedCount(), 1);
  EXPECT_TRUE(tavrin::device_nodes::Load().empty());
}

TEST_F(DeviceInstallerTest, RemovalOfANodeInUseWaitsForTheNextStart) {
  StartHost();
  DWORD reboot = 0;
  ASSERT_EQ(installer_.cmdInstall("D:\\Setup\\vizorido.inf", "root\\vizorido", &reboot), installer::kInstallOk);
  // A program holds the enumerator open.
  std::string path = tavrin::test::FirstInterfacePath(GUID_DEVINTERFACE_BUSENUM);
  ASSERT_FALSE(path.empty());
  HANDLE held = CreateFile(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  // The child node's removal and the root node's: the open handle defers the root's to the next start.
  EXPECT_EQ(installer_.cmdRemove(installer::kVirtualUsbHardwareId), installer::kRemoveOk);
  EXPECT_EQ(installer_.cmdRemove("root\\vizorido"), installer::kRemoveNeedsRestart);
  EXPECT_TRUE(tavrin::device_nodes::Load().empty());
  EXPECT_TRUE(LiveNode("ROOT\\VIZORIDO\\0000"));
  CloseHandle(held);
  host_.reset();
  StartHost();
  EXPECT_FALSE(LiveNode("ROOT\\VIZORIDO\\0000"));
}

TEST_F(DeviceInstallerTest, WithoutAStoreTheMachineKeepsItsDefaults) {
  StartHost();
  host_->kernel().WaitForPnpIdle();
  EXPECT_TRUE(LiveNode("ROOT\\VIZORIDO\\0000"));
  EXPECT_FALSE(tavrin::test::FirstInterfacePath(GUID_DEVINTERFACE_BUSENUM).empty());
}

}  // namespace
