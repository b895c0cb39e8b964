#include <gtest/gtest.h>

#include <cstring>

#include "admin/upgrade/FirmwareImage.h"
#include "admin/upgrade/FirmwareUpgrade.h"

namespace {

SelectedServerEntry Entry(const char* ip, BYTE major, BYTE minor) {
  SelectedServerEntry entry{};
  entry.CommandPort = 1341;
  strncpy(entry.ServerIp, ip, sizeof entry.ServerIp - 1);
  strncpy(entry.Server.ServerIp, ip, sizeof entry.Server.ServerIp - 1);
  entry.Server.FwVersionMajor = major;
  entry.Server.FwVersionMinor = minor;
  return entry;
}

TEST(FirmwareImage, VersionComparedWithTheBoards) {
  const char* image = "zarnet-update-2.0.0.5.bin";
  EXPECT_EQ(CheckFirmwareImage(image, 2, 5), FW_CHECK_SAME_VERSION);
  EXPECT_EQ(CheckFirmwareImage(image, 2, 4), FW_CHECK_GO);
  EXPECT_EQ(CheckFirmwareImage(image, 3, 0), FW_CHECK_BOARD_NEWER);
  EXPECT_EQ(CheckFirmwareImage(image, 1, 200), FW_CHECK_GO);
  EXPECT_EQ(CheckFirmwareImage(image, 2, 6), FW_CHECK_BOARD_NEWER);
  EXPECT_EQ(CheckFirmwareImage("zarnet-update-1.0.0.200.bin", 1, 199), FW_CHECK_GO);  // unsigned bytes
}

TEST(FirmwareImage, NamesThatAreNoImage) {
  for (const char* name : {"zarnet-update-2.5", "firmware-2.0.0.5.bin", "zarnet-update-.0.0.1", "", "zarnet-update-",
                           "Zarnet-Update-2.0.0.5.bin", "zarnet-update-2.0.0"})
    EXPECT_EQ(CheckFirmwareImage(name, 1, 0), FW_CHECK_NOT_AN_IMAGE) << name;
  EXPECT_EQ(CheckFirmwareImage(nullptr, 1, 0), FW_CHECK_NOT_AN_IMAGE);

  BYTE major = 9, minor = 9;
  EXPECT_FALSE(ParseFirmwareImageName("zarnet-update-2.5", &major, &minor));
  EXPECT_EQ(major, 9);  // left as they were
  ASSERT_TRUE(ParseFirmwareImageName("zarnet-update-1.0.0.12.bin", &major, &minor));
  EXPECT_EQ(major, 1);
  EXPECT_EQ(minor, 12);
  // Numbers far beyond a byte neither overflow nor read past the name: they keep their low byte.
  ASSERT_TRUE(ParseFirmwareImageName("zarnet-update-257.0.0.99999999999999999999", &major, &minor));
  EXPECT_EQ(major, 1);
}

TEST(FirmwareImage, RunIsCheckedAsAWholeBeforeAnythingStarts) {
  SelectedServerList servers;
  EXPECT_EQ(CheckUpgradeRun(servers, "zarnet-update-1.0.0.13.bin"), FW_CHECK_NO_SERVER);
  servers.AddTail(Entry("127.0.0.2", 1, 12));
  servers.AddTail(Entry("127.0.0.3", 1, 13));  // already there
  servers.AddTail(Entry("127.0.0.4", 2, 0));
  EXPECT_EQ(CheckUpgradeRun(servers, "zarnet-update-1.0.0.13.bin"), FW_CHECK_SAME_VERSION);
  EXPECT_EQ(FirmwareCheckMessage(FW_CHECK_SAME_VERSION), CString("Same FW available on board, update not required !!"));
  EXPECT_EQ(FirmwareCheckMessage(FW_CHECK_BOARD_NEWER), CString("Latest FW available on board, update not required !!"));
  EXPECT_EQ(FirmwareCheckMessage(FW_CHECK_NOT_AN_IMAGE),
            CString("This is not a valid FW image. Please select a correct file !!"));
  EXPECT_EQ(FirmwareCheckMessage(77), CString("Internal Error!!"));

  SelectedServerList many;
  for (int i = 0; i < MAX_UPGRADE_SERVERS + 1; ++i) many.AddTail(Entry("127.0.0.2", 1, 0));
  EXPECT_EQ(CheckUpgradeRun(many, "zarnet-update-1.0.0.13.bin"), FW_CHECK_TOO_MANY_SERVERS);
  many.RemoveTail();
  EXPECT_EQ(CheckUpgradeRun(many, "zarnet-update-1.0.0.13.bin"), FW_CHECK_GO);
}

TEST(FirmwareImage, PathSplitAtTheLastBackslash) {
  CString folder, file;
  SplitImagePath("C:\\fw images\\zarnet-update-1.0.0.13.bin", folder, file);
  EXPECT_EQ(folder, CString("C:\\fw images"));
  EXPECT_EQ(file, CString("zarnet-update-1.0.0.13.bin"));
  SplitImagePath("image.bin", folder, file);
  EXPECT_EQ(folder, CString(""));
  EXPECT_EQ(file, CString("image.bin"));
}

TEST(UpgradeProgress, PercentInSixtyFourBits) {
  EXPECT_EQ(ComputeUploadPercent(100, 102400), 50);
  EXPECT_EQ(ComputeUploadPercent(201, 102400), 100);  // the empty last block is no byte more
  EXPECT_EQ(ComputeUploadPercent(5, 0), 0);
  // 100 MB: 32-bit arithmetic would wrap at 83887 blocks and show a few percent.
  const ULONGLONG size = 100ull * 1024 * 1024;
  EXPECT_EQ(ComputeUploadPercent(size / 512 / 2, size), 50);
  EXPECT_EQ(ComputeUploadPercent(size / 512 - 1, size), 99);
}

TEST(UpgradeProgress, StatusTextSteps) {
  CString text = "Initializing.";
  text = NextUploadStatusText(text, 0);
  EXPECT_EQ(text, CString("Initializing.."));
  text = NextUploadStatusText(text, 0);
  EXPECT_EQ(text, CString("Initializing...."));
  EXPECT_EQ(NextUploadStatusText(text, 0), CString("Initializing."));
  EXPECT_EQ(NextUploadStatusText("Initializing..", 50), CString("Uploading."));
  EXPECT_EQ(NextUploadStatusText("Uploading.", 50), CString("Uploading.."));
  EXPECT_EQ(NextUploadStatusText("Uploading..", 50), CString("Uploading...."));
  EXPECT_EQ(NextUploadStatusText("Uploading....", 50), CString("Uploading."));
  EXPECT_EQ(NextUploadStatusText("Uploading..", 100), CString("Applying changes."));
  EXPECT_EQ(NextUploadStatusText("Applying changes.", 100), CString("Applying changes.."));
  EXPECT_EQ(NextUploadStatusText("Applying changes....", 100), CString("Applying changes."));
  EXPECT_EQ(NextUploadStatusText("Upgrade Fail", 100), CString("Upgrade Fail"));
  EXPECT_EQ(NextUploadStatusText("Upgrade Successful", 0), CString("Upgrade Successful"));
  EXPECT_STREQ(UpgradeResultText(UPGRADE_RESULT_SUCCESS), "Upgrade Successful");
  EXPECT_STREQ(UpgradeResultText(1), "Upgrade Fail");
  EXPECT_STREQ(UpgradeResultText(UPGRADE_RESULT_VERSION_MISMATCH), "Upgrade Fail");
}

}  // namespace
