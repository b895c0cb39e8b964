// The firmware upgrade's dialogs: "Select File" checks the image against every server before the TFTP
// server starts; "Firmware Upgrade Status" follows the run to its results, fails every row when the
// transfer table cannot be had, and ends the workers at once on Cancel.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "admin/Resource.h"
#include "admin/ui/UpgradeFirmwareDlg.h"
#include "admin/upgrade/UpgradeSettings.h"
#include "dialog_fixture.h"
#include "reference_image.h"
#include "testsupport/ports.h"
#include "testsupport/sanitizers.h"
#include "testsupport/selected_server.h"
#include "tftp/SharedInfo.h"
#include "win32/sync.h"
#include "win32/sysroot.h"
#include "win32/commdlg.h"
#include "win32/crt.h"
#include "win32/window_manager.h"

namespace {

constexpr char kImage[] = "zarnet-update-1.0.0.13.bin";
constexpr char kImagePath[] = "C:\\fw images\\zarnet-update-1.0.0.13.bin";
constexpr UINT_PTR kWatchTimer = 77;

bool TftpServerRuns() {
  HANDLE event = OpenEvent(SYNCHRONIZE, FALSE, tftp::kShutDownEventName);
  if (event) CloseHandle(event);
  return event != nullptr;
}

class UpgradeDialogTest : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    std::filesystem::copy_file(TFTPSERVER_PROGRAM, tavrin::sysroot::WindowsDir() / "TftpServer.exe");
    std::filesystem::create_directories(tavrin::sysroot::MapPath("C:\\fw images"));
    tftpPort_ = zarnet::sim::FreeLoopbackPort(SOCK_DGRAM, "127.0.0.1");
    setenv("TAVRIN_TFTP_ADDRESS", "127.0.0.1", 1);
    setenv("TAVRIN_TFTP_PORT", std::to_string(tftpPort_).c_str(), 1);
    // Before a block is sent again: the transfers here succeed or fail for other reasons than silence, and
    // a busy computer may keep a peer from answering for a while.
    setenv("TAVRIN_TFTP_TIMEOUT_MS", std::to_string(tavrin::test::Patient(std::chrono::seconds(1)).count()).c_str(), 1);
    saved_ = GetUpgradeSettings();
    UpgradeSettings fast;
    fast.startWaitMs = 30000;  // waits that end at their event: long, for a busy computer
    fast.stopWaitMs = 10000;
    fast.lockWaitMs = 1000;
    fast.statusPollMs = 20;
    fast.transferTimeoutMs = 600000;  // only Cancel ends a transfer that never begins
    fast.configRetryMs = 20;
    fast.configTimeoutMs = 20000;
    SetUpgradeSettings(fast);
  }
  void TearDown() override {
    SetUpgradeSettings(saved_);
    for (const char* name : {"TAVRIN_TFTP_ADDRESS", "TAVRIN_TFTP_PORT", "TAVRIN_TFTP_TIMEOUT_MS"}) unsetenv(name);
    DialogTest::TearDown();
  }

  void WriteImage(const char* name, size_t size) {
    std::ofstream(tavrin::sysroot::MapPath(std::string("C:\\fw images\\") + name), std::ios::binary)
        << std::string(size, 'z');
  }
  // Servers at firmware 1.0.0.12 fetching from the test's TFTP port (or from `tftpPort`).
  void StartFetchingServers(int first, int count, uint16_t tftpPort = 0) {
    const uint16_t port = tftpPort ? tftpPort : tftpPort_;
    StartServers(first, count, [port](int, zarnet::sim::ServerOptions& options) {
      options.fw_major = 1;
      options.fw_minor = 12;
      options.tftp_port = port;
      options.tftp_timeout = tavrin::test::Patient(std::chrono::seconds(1));
      options.restart_delay = std::chrono::milliseconds(20);
    });
    PatientCommands();
  }
  void Select(const std::string& ip, BYTE major = 1, BYTE minor = 12) {
    servers_.AddTail(tavrin::test::SelectedServer(ip, major, minor));
  }

  uint16_t tftpPort_ = 0;
  UpgradeSettings saved_;
  SelectedServerList servers_;
};

// "Select File" with the path given as the Open dialog would, Transfer pressed at once; the status
// dialog's rows (and its picture) are taken when its OK shows, and OK pressed.
class ScriptedSelectFile : public CUpgradeFirmwareDlg {
 public:
  std::string path;
  BOOL tftpRanDuringStatus = FALSE;
  std::vector<std::string> finalRows;
  tavrin::draw::Surface finalPicture{1, 1};

 protected:
  BOOL OnInitDialog() override {
    const BOOL result = CUpgradeFirmwareDlg::OnInitDialog();
    if (!path.empty()) TakeImagePath(path.c_str());
    PostMessage(WM_COMMAND, IDC_UPGRADE_TRANSFER, 0);
    if (path.empty()) PostMessage(WM_COMMAND, IDC_UPGRADE_CANCEL, 0);  // Transfer left it open
    return result;
  }
  INT_PTR RunStatusDialog(CUpgradeFWStatusDlg& status) override {
    status_ = &status;
    tftpRanDuringStatus = IsTftpServerRunning();
    tavrin::CrtSrand(1);  // the buttons' shading noise as on a fresh start, for the picture
    SetTimer(kWatchTimer, 20);
    const INT_PTR result = status.DoModal();
    KillTimer(kWatchTimer);
    return result;
  }
  void OnTimer(UINT_PTR id) override {
    if (id == kWatchTimer && status_->m_btnOK.GetSafeHwnd() && status_->m_btnOK.IsWindowVisible()) {
      KillTimer(kWatchTimer);
      for (int row = 0; row < status_->m_lstStatus.GetItemCount(); ++row)
        finalRows.push_back(status_->m_lstStatus.GetItemText(row, CUpgradeFWStatusDlg::kStatusColumn).GetString());
      finalPicture = tavrin::test::RenderWindow(status_->m_hWnd);
      status_->PostMessage(WM_COMMAND, IDC_UPGRADE_OK, 0);
    }
    CUpgradeFirmwareDlg::OnTimer(id);
  }

 private:
  CUpgradeFWStatusDlg* status_ = nullptr;
};

TEST_F(UpgradeDialogTest, TransferUpgradesTheServerAndStopsTheTftpServer) {
  WriteImage(kImage, 100 * 1024);
  StartFetchingServers(51, 1);
  Select("127.0.0.51");
  ScriptedSelectFile dialog;
  dialog.m_pSelectedServers = &servers_;
  dialog.path = kImagePath;
  EXPECT_EQ(dialog.DoModal(), IDOK);
  EXPECT_EQ(dialog.m_nImageSize, 102400u);
  EXPECT_EQ(dialog.m_strImageFolder, "C:\\fw images");
  EXPECT_TRUE(dialog.tftpRanDuringStatus);
  EXPECT_EQ(dialog.m_nStatusResult, IDOK);
  EXPECT_EQ(dialog.finalRows, std::vector<std::string>{"Upgrade Successful"});
  EXPECT_TRUE(tavrin::test::MatchesReference(dialog.finalPicture, TAVRIN_REFERENCE_DIR "/upgrade_status_done.png"));
  EXPECT_EQ(simulator_.server(0).configuration().fw_version, "1.0.0.13");
  EXPECT_FALSE(TftpServerRuns());
  EXPECT_TRUE(boxes_.empty()) << boxes_[0].text;
}

TEST_F(UpgradeDialogTest, ImagesThatFailTheCheckStartNothing) {
  WriteImage(kImage, 1000);
  WriteImage("notes.txt", 10);
  WriteImage("zarnet-update-1.0.0.12.bin", 1000);
  StartFetchingServers(52, 1);
  Select("127.0.0.52");
  Select("127.0.0.53", 1, 14);  // the second server is newer: nobody is upgraded
  struct Case {
    const char* path;
    const char* message;
  } cases[] = {
      {"", "Enter the path & press Transfer button."},
      {"C:\\fw images\\notes.txt", "This is not a valid FW image. Please select a correct file !!"},
      {"C:\\fw images\\zarnet-update-1.0.0.12.bin", "Same FW available on board, update not required !!"},
      {kImagePath, "Latest FW available on board, update not required !!"},
  };
  for (const Case& each : cases) {
    SCOPED_TRACE(each.path);
    boxes_.clear();
    ScriptedSelectFile dialog;
    dialog.m_pSelectedServers = &servers_;
    dialog.path = each.path;
    EXPECT_EQ(dialog.DoModal(), *each.path ? IDOK : IDCANCEL);
    EXPECT_EQ(dialog.m_nStatusResult, -1);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, each.message);
    EXPECT_FALSE(TftpServerRuns());
  }
  EXPECT_EQ(simulator_.server(0).upgrade().state, zarnet::sim::UpgradeStatus::State::kNone);
}

TEST_F(UpgradeDialogTest, MoreThanTwentyFiveServersAreRefusedBeforeAnythingStarts) {
  WriteImage(kImage, 1000);
  for (int n = 0; n < 26; ++n) Select("127.0.1." + std::to_string(n + 1));
  ScriptedSelectFile dialog;
  dialog.m_pSelectedServers = &servers_;
  dialog.path = kImagePath;
  EXPECT_EQ(dialog.DoModal(), IDOK);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_NE(boxes_[0].text.find("25"), std::string::npos) << boxes_[0].text;
  EXPECT_FALSE(TftpServerRuns());
}

TEST_F(UpgradeDialogTest, MissingTftpProgramIsReportedAndTheDialogCloses) {
  WriteImage(kImage, 1000);
  std::filesystem::remove(tavrin::sysroot::WindowsDir() / "TftpServer.exe");
  Select("127.0.0.54");
  ScriptedSelectFile dialog;
  dialog.m_pSelectedServers = &servers_;
  dialog.path = kImagePath;
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  ASSERT_EQ(boxes_.size(), 2u);
  EXPECT_EQ(boxes_[0].text, "CreateProcess : Error - 2");
  EXPECT_EQ(boxes_[0].type & MB_ICONMASK, UINT{MB_ICONHAND});
  EXPECT_EQ(boxes_[1].text, "Fail to start TFTP Server Application.!!");
}

// The status dialog on its own: rows and OK read at the first moment OK shows, or Cancel pressed as soon
// as the workers run.
class WatchedStatus : public CUpgradeFWStatusDlg {
 public:
  BOOL cancelOnStart = FALSE;
  BOOL okAtStart = FALSE;
  BOOL cancelEnabledAfterCancel = TRUE;
  std::string noteAfterCancel;
  std::vector<std::string> rowsAtStart;
  std::vector<std::string> finalRows;

 protected:
  BOOL OnInitDialog() override {
    const BOOL result = CUpgradeFWStatusDlg::OnInitDialog();
    okAtStart = (m_btnOK.GetStyle() & WS_VISIBLE) != 0;  // the dialog itself shows later
    rowsAtStart = Rows();
    if (okAtStart) PostMessage(WM_COMMAND, IDC_UPGRADE_OK, 0);
    return result;
  }
  void OnTimer(UINT_PTR id) override {
    CUpgradeFWStatusDlg::OnTimer(id);
    if (id == 7 && cancelOnStart) {
      SendMessage(WM_COMMAND, IDCANCEL, 0);
      cancelEnabledAfterCancel = m_btnCancel.IsWindowEnabled();
      CString note;
      GetDlgItemText(IDC_UPGRADE_PROGRESS_NOTE, note);
      noteAfterCancel = note.GetString();
    }
  }
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    const LRESULT result = CUpgradeFWStatusDlg::WindowProc(message, wParam, lParam);
    if (message == WM_UPGRADE_FW_STATUS && m_nOutstanding == 0) {
      finalRows = Rows();
      if (!cancelOnStart) PostMessage(WM_COMMAND, IDC_UPGRADE_OK, 0);
    }
    return result;
  }

 private:
  std::vector<std::string> Rows() {
    std::vector<std::string> rows;
    for (int row = 0; row < m_lstStatus.GetItemCount(); ++row)
      rows.push_back(m_lstStatus.GetItemText(row, kStatusColumn).GetString());
    return rows;
  }
};

TEST_F(UpgradeDialogTest, WithoutTheTransferTableEveryRowFailsAndOkShows) {
  Select("127.0.0.55");
  Select("127.0.0.56");
  WatchedStatus status;
  status.SetUp(1, kImage, "C:\\fw images");
  status.SetImageSize(1000);
  status.SetSelectedServers(&servers_);
  EXPECT_EQ(status.DoModal(), IDOK);
  EXPECT_TRUE(status.okAtStart);
  EXPECT_EQ(status.rowsAtStart, (std::vector<std::string>{"Upgrade Fail", "Upgrade Fail"}));
}

TEST_F(UpgradeDialogTest, CancelEndsTransfersThatNeverBeganAtOnce) {
  WriteImage(kImage, 1000);
  tavrin::test::HeldPort nowhere{tavrin::test::HeldPort::kDatagram};  // the servers fetch from nobody
  StartFetchingServers(57, 2, nowhere.port());
  Select("127.0.0.57");
  Select("127.0.0.58");
  CTftpServerControl tftp;
  ASSERT_TRUE(tftp.StartTftpServer("C:\\fw images"));
  WatchedStatus status;
  status.cancelOnStart = TRUE;
  status.SetUp(1, kImage, "C:\\fw images");
  status.SetImageSize(1000);
  status.SetSelectedServers(&servers_);
  EXPECT_EQ(status.DoModal(), IDOK);  // only once both workers delivered: the transfers wait 600 s else
  EXPECT_FALSE(status.cancelEnabledAfterCancel);
  EXPECT_EQ(status.noteAfterCancel, "Stoping...Please wait.!!");
  EXPECT_EQ(status.finalRows, (std::vector<std::string>{"Upgrade Fail", "Upgrade Fail"}));
  EXPECT_TRUE(tftp.StopTftpServer());
}

// Browse, clicked where it sits inside its group box: the Open dialog's path goes into the edit, split
// into folder and file name, its size read.
class ClickedBrowse : public CUpgradeFirmwareDlg {
 protected:
  BOOL OnInitDialog() override {
    const BOOL result = CUpgradeFirmwareDlg::OnInitDialog();
    SetTimer(kWatchTimer, 20);
    return result;
  }
  void OnTimer(UINT_PTR id) override {
    if (id == kWatchTimer && !clicked_ && IsWindowVisible()) {  // once it shows
      clicked_ = true;
      RECT browse;
      ::GetWindowRect(::GetDlgItem(m_hWnd, IDC_UPGRADE_BROWSE), &browse);
      tavrin::win::InjectClick((browse.left + browse.right) / 2, (browse.top + browse.bottom) / 2);
    } else if (id == kWatchTimer && !m_strPath.IsEmpty()) {
      KillTimer(kWatchTimer);
      CString shown;
      m_edtPath.GetWindowText(shown);
      EXPECT_EQ(shown, m_strPath);
      EndDialog(IDCANCEL);
    }
    CUpgradeFirmwareDlg::OnTimer(id);
  }

 private:
  bool clicked_ = false;
};

TEST_F(UpgradeDialogTest, BrowseTakesThePathTheOpenDialogGives) {
  WriteImage(kImage, 4096);
  int asked = 0;
  tavrin::SetFileDialogSink([&](bool save, const std::string&, const std::string&) {
    ++asked;
    EXPECT_FALSE(save);
    return std::string(kImagePath);
  });
  ClickedBrowse dialog;
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  tavrin::SetFileDialogSink(nullptr);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(dialog.m_strPath, kImagePath);
  EXPECT_EQ(dialog.m_strImageFolder, "C:\\fw images");
  EXPECT_EQ(dialog.m_strImageFileName, kImage);
  EXPECT_EQ(dialog.m_nImageSize, 4096u);
  EXPECT_EQ(dialog.m_bImageChosen, 1u);
}

}  // namespace
