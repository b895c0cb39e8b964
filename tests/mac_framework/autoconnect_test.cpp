// AutoconnectEntry on empty and filled preferences, exact address matching, printers.
#include "PelkoFramework/AutoconnectEntry.h"

#include <gtest/gtest.h>

#include <fstream>
#include <thread>
#include <vector>

#include "cocoa/PrintCore.h"
#include "cocoa/mac_root.h"
#include "testsupport/sysroot.h"

namespace {

class AutoconnectTest : public tavrin::test::SysrootTest {
 protected:
  void SetUp() override {
    SysrootTest::SetUp();
    pool_ = alloc<NSAutoreleasePool>()->init();
    entries_ = alloc<AutoconnectEntry>()->init();
    testing::internal::CaptureStdout();
  }
  void TearDown() override {
    fflush(stdout);
    testing::internal::GetCapturedStdout();
    entries_->release();
    pool_->drain();
    SysrootTest::TearDown();
  }
  // A preferences file written as another program would have left it.
  void WriteFile(const std::string& entries) {
    auto file = cocoa::MacPath("/private/var/root/loginwindow.plist");
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
                           "<key>Data</key>\n<array>\n"
                        << entries << "</array>\n</dict>\n</plist>\n";
  }
  static std::string Entry(const char* ip, int port, int pid, int vid, bool on) {
    return std::string("<dict><key>ipAddrs</key><string>") + ip + "</string><key>portNumber</key><integer>" +
           std::to_string(port) + "</integer><key>Pid</key><integer>" + std::to_string(pid) +
           "</integer><key>Vid</key><integer>" + std::to_string(vid) + "</integer><key>Autoconnect</key>" +
           (on ? "<true/>" : "<false/>") + "</dict>\n";
  }
  NSAutoreleasePool* pool_ = nullptr;
  AutoconnectEntry* entries_ = nullptr;
};

TEST_F(AutoconnectTest, EmptyPreferencesFindNothingAndTakeANewEntry) {
  EXPECT_EQ(entries_->FindEntryIndex("10.0.0.1", 1, 5, 0x4b8), -1);
  EXPECT_EQ(entries_->ReadEntry("10.0.0.1", 1, 5, 0x4b8), 3);
  EXPECT_EQ(entries_->ChangeTheHideKey("10.0.0.1", 1, 5, 0x4b8, 1), 2);
  EXPECT_EQ(entries_->CheckAndAddDeviceEntry("10.0.0.1", 1, 5, 0x4b8, 1, 0, 0), 1);
  EXPECT_EQ(entries_->FindEntryIndex("10.0.0.1", 1, 5, 0x4b8), 0);
  EXPECT_EQ(entries_->ReadEntry("10.0.0.1", 1, 5, 0x4b8), 1);
  EXPECT_EQ(entries_->CheckAndAddDeviceEntry("10.0.0.1", 1, 5, 0x4b8, 1, 0, 0), 1);  // present: not added again
  EXPECT_EQ(entries_->FindEntryIndex("10.0.0.1", 2, 5, 0x4b8), -1);
  // Adding twice gives two entries; a flag other than 1 is off.
  EXPECT_EQ(entries_->AddReplaceEntry("10.0.0.2", 1, 5, 0x4b8, 7, 0), 1);
  EXPECT_EQ(entries_->AddReplaceEntry("10.0.0.2", 1, 5, 0x4b8, 7, 0), 1);
  EXPECT_EQ(entries_->FindEntryIndex("10.0.0.2", 1, 5, 0x4b8), 1);
  EXPECT_EQ(entries_->ReadEntry("10.0.0.2", 1, 5, 0x4b8), 0);
  EXPECT_EQ(entries_->CheckAndAddDeviceEntry("10.0.0.2", 1, 5, 0x4b8, 1, 0, 0), 0);
  EXPECT_TRUE(std::filesystem::exists(root() / "Mac/private/var/root/loginwindow.plist"));
}

TEST_F(AutoconnectTest, FilledPreferencesAreReadChangedAndMatchedExactly) {
  WriteFile(Entry("10.0.0.12", 1, 5, 1208, true) + Entry("10.0.0.1", 2, 6, 1208, false) +
            Entry("10.0.0.1", 1, 5, 1208, true));
  // 10.0.0.1 is not 10.0.0.12.
  EXPECT_EQ(entries_->FindEntryIndex("10.0.0.1", 1, 5, 1208), 2);
  EXPECT_EQ(entries_->FindEntryIndex("10.0.0.12", 1, 5, 1208), 0);
  EXPECT_EQ(entries_->FindEntryIndex("10.0.0", 1, 5, 1208), -1);
  EXPECT_EQ(entries_->ReadEntry("10.0.0.1", 2, 6, 1208), 0);
  EXPECT_EQ(entries_->ReadEntry("10.0.0.1", 1, 5, 1208), 1);

  EXPECT_EQ(entries_->ChangeTheHideKey("10.0.0.1", 2, 6, 1208, 0), 2);  // already off: nothing written
  EXPECT_EQ(entries_->ChangeTheHideKey("10.0.0.1", 2, 6, 1208, 1), 1);
  EXPECT_EQ(entries_->ReadEntry("10.0.0.1", 2, 6, 1208), 1);
  EXPECT_EQ(entries_->FindEntryIndex("10.0.0.1", 2, 6, 1208), 2);  // moved to the end
  EXPECT_EQ(entries_->FindEntryIndex("10.0.0.1", 1, 5, 1208), 1);
  // Another object reads what this one stored.
  AutoconnectEntry* other = alloc<AutoconnectEntry>()->init();
  EXPECT_EQ(other->ReadEntry("10.0.0.1", 2, 6, 1208), 1);
  other->release();
}

TEST_F(AutoconnectTest, AnEntryWithoutAddressEndsTheChange) {
  WriteFile("<dict><key>Pid</key><integer>5</integer></dict>\n" + Entry("10.0.0.1", 1, 5, 1208, false));
  EXPECT_EQ(entries_->ChangeTheHideKey("10.0.0.1", 1, 5, 1208, 1), 2);
  EXPECT_EQ(entries_->ReadEntry("10.0.0.1", 1, 5, 1208), 0);
}

TEST_F(AutoconnectTest, ObjectsShareOneLockAndConcurrentAddsAreNotLost) {
  AutoconnectEntry* second = alloc<AutoconnectEntry>()->init();
  NSLock* lock = ReadWriteLock;
  AutoconnectEntry* third = alloc<AutoconnectEntry>()->init();
  EXPECT_EQ(ReadWriteLock, lock);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      AutoconnectEntry* mine = t % 2 ? second : third;
      for (int i = 0; i < 5; ++i) EXPECT_EQ(mine->CheckAndAddDeviceEntry("10.0.0.3", t * 10 + i, 1, 1, 1, 0, 0), 1);
    });
  for (auto& t : threads) t.join();
  for (int t = 0; t < 4; ++t)
    for (int i = 0; i < 5; ++i) EXPECT_GE(entries_->FindEntryIndex("10.0.0.3", t * 10 + i, 1, 1), 0);
  second->release();
  third->release();
}

TEST_F(AutoconnectTest, APrinterIsSharedWhenItIsTheDefaultAndBusy) {
  cocoa::printing::AddPrinter("Office");
  cocoa::printing::AddPrinter("Lab");
  cocoa::printing::SetDefaultPrinter("Office");
  NSString* office = NSString::stringWithUTF8String("Office");
  EXPECT_EQ(entries_->getPrinterSharingStatus(office), 0);  // idle
  cocoa::printing::SetPrinterState("Office", kPMPrinterProcessing);
  EXPECT_EQ(entries_->getPrinterSharingStatus(office), 1);
  cocoa::printing::SetPrinterState("Lab", kPMPrinterProcessing);
  EXPECT_EQ(entries_->getPrinterSharingStatus(NSString::stringWithUTF8String("Lab")), 0);  // not the default
  EXPECT_EQ(entries_->getPrinterSharingStatus(NSString::stringWithUTF8String("Nobody")), 0);
  fflush(stdout);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("printerThreadSharing\nOffice: isPrinterDefault 1\n"), std::string::npos);
  EXPECT_NE(out.find("Lab: isPrinterDefault 0\n"), std::string::npos);
  testing::internal::CaptureStdout();
}

}  // namespace
