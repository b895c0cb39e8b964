// A sysroot with TftpServer.exe installed and serving on a free loopback port, simulated servers on
// 127.0.0.N whose upgrades fetch from it, and the product's pauses shortened.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "admin/comm/CommSettings.h"
#include "admin/upgrade/FirmwareUpgrade.h"
#include "admin/upgrade/TftpServerControl.h"
#include "admin/util/Utilities.h"
#include "testsupport/ports.h"
#include "testsupport/selected_server.h"
#include "testsupport/sanitizers.h"
#include "testsupport/sysroot.h"
#include "win32/sysroot.h"
#include "win32/windows.h"
#include "zarnet/sim/server.h"
#include "zarnet/sim/simulator.h"

class UpgradeTest : public tavrin::test::SysrootTest {
 protected:
  void SetUp() override {
    SysrootTest::SetUp();
    ASSERT_EQ(WinsockStart(), 0);
    std::filesystem::copy_file(TFTPSERVER_PROGRAM, tavrin::sysroot::WindowsDir() / "TftpServer.exe");
    images_ = tavrin::sysroot::MapPath("C:\\fw images");
    std::filesystem::create_directories(images_);
    tftpPort_ = zarnet::sim::FreeLoopbackPort(SOCK_DGRAM);
    commandPort_ = zarnet::sim::FreeLoopbackPort(SOCK_STREAM);
    setenv("TAVRIN_TFTP_ADDRESS", "127.0.0.1", 1);
    setenv("TAVRIN_TFTP_PORT", std::to_string(tftpPort_).c_str(), 1);
    // Before a block is sent again: the transfers here succeed or fail for other reasons than silence, and
    // a busy computer may keep a peer from answering for a while.
    setenv("TAVRIN_TFTP_TIMEOUT_MS", std::to_string(tavrin::test::Patient(std::chrono::seconds(1)).count()).c_str(), 1);

    savedComm_ = GetDefaultServerCommSettings();
    ServerCommSettings comm;
    comm.commandPort = commandPort_;
    comm.commandRecvTimeoutMs = 50;
    comm.commandRecvTimeoutLimit = 40;
    comm.processDelayMs = 0;
    SetDefaultServerCommSettings(comm);

    savedUpgrade_ = GetUpgradeSettings();
    UpgradeSettings fast;
    fast.startWaitMs = 30000;  // waits that end at the event: long, for a busy computer
    fast.stopWaitMs = 10000;
    fast.lockWaitMs = 1000;
    fast.statusPollMs = 20;
    fast.transferTimeoutMs = 20000;
    fast.configRetryMs = 20;
    fast.configTimeoutMs = 20000;
    SetUpgradeSettings(fast);
  }
  void TearDown() override {
    servers_.clear();
    SetUpgradeSettings(savedUpgrade_);
    SetDefaultServerCommSettings(savedComm_);
    for (const char* name : {"TAVRIN_TFTP_ADDRESS", "TAVRIN_TFTP_PORT", "TAVRIN_TFTP_TIMEOUT_MS"}) unsetenv(name);
    WinsockStop();
    SysrootTest::TearDown();
  }

  static std::string RandomBytes(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (auto& b : bytes) b = static_cast<char>(random());
    return bytes;
  }

  std::string WriteImage(const std::string& name, size_t size, unsigned seed = 1) {
    std::string bytes = RandomBytes(size, seed);
    std::ofstream(images_ / name, std::ios::binary) << bytes;
    return bytes;
  }

  // A simulated server on 127.0.0.n at firmware major.0.0.minor, fetching upgrades from our TFTP port.
  zarnet::sim::Server& AddServer(int n, uint8_t major, uint8_t minor) {
    zarnet::sim::ServerOptions options = zarnet::sim::LoopbackServerOptions(n, deviceLists_.port());
    options.command_port = commandPort_;
    options.fw_major = major;
    options.fw_minor = minor;
    options.tftp_port = tftpPort_;
    options.tftp_timeout = tavrin::test::Patient(std::chrono::seconds(1));
    options.restart_delay = std::chrono::milliseconds(20);
    options.broadcast_period = std::chrono::seconds(60);
    servers_.push_back(std::make_unique<zarnet::sim::Server>(options));
    std::string error;
    EXPECT_TRUE(servers_.back()->Start(&error)) << error;
    return *servers_.back();
  }

  void Select(const std::string& ip, uint8_t major, uint8_t minor) {
    selected_.AddTail(tavrin::test::SelectedServer(ip, major, minor));
  }

  // Starts a run of image 1 from "C:\\fw images" to the selected servers, notifying `window` when given;
  // call it under ASSERT_NO_FATAL_FAILURE.
  void StartRun(CFirmwareUpgradeRun& upgrade, const CString& image, ULONGLONG imageSize, HWND window = nullptr) {
    upgrade.SetUp(1, image, "C:\\fw images");
    upgrade.SetImageSize(imageSize);
    upgrade.SetSelectedServers(&selected_);
    if (window) upgrade.SetNotifyWindow(window);
    ASSERT_TRUE(upgrade.OpenSharedInfo());
    ASSERT_TRUE(upgrade.StartFileTransfer());
  }

  // The record of a client address in the TFTP server's table.
  static bool FindRecord(const char* ip, tftp::SharedRecord& out) {
    HANDLE mapping = OpenFileMapping(FILE_MAP_READ, FALSE, tftp::kTableName);
    if (!mapping) return false;
    auto* records = static_cast<const tftp::SharedRecord*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
    bool found = false;
    for (size_t i = 0; records && i < tftp::kRecordCount && !found; ++i) {
      if (records[i].port != 0 && strncmp(records[i].ip, ip, tftp::kIpSize) == 0) {
        out = records[i];
        found = true;
      }
    }
    if (records) UnmapViewOfFile(records);
    CloseHandle(mapping);
    return found;
  }

  // The processes, besides this one, that run with this test's sysroot in their environment (the programs
  // it started, under whatever name they run now).
  std::vector<int> ProcessesOfThisSysroot() const {
    const std::string mark = "TAVRIN_SYSROOT=" + root().string();
    std::vector<int> found;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
      const std::string name = entry.path().filename().string();
      if (name.find_first_not_of("0123456789") != std::string::npos || std::stoi(name) == getpid()) continue;
      std::ifstream environment(entry.path() / "environ", std::ios::binary);
      for (std::string variable; std::getline(environment, variable, '\0');)
        if (variable == mark) found.push_back(std::stoi(name));
    }
    return found;
  }

  static bool ServerEventExists() {
    HANDLE event = OpenEvent(SYNCHRONIZE, FALSE, tftp::kShutDownEventName);
    if (event) CloseHandle(event);
    return event != nullptr;
  }

  std::filesystem::path images_;
  uint16_t tftpPort_ = 0;
  uint16_t commandPort_ = 0;
  SelectedServerList selected_;
  // Where the servers' device lists go unheard.
  tavrin::test::HeldPort deviceLists_{tavrin::test::HeldPort::kDatagram};
  // A TFTP port where nothing answers.
  tavrin::test::HeldPort nowhere_{tavrin::test::HeldPort::kDatagram};
  std::vector<std::unique_ptr<zarnet::sim::Server>> servers_;
  ServerCommSettings savedComm_;
  UpgradeSettings savedUpgrade_;
};
