// The firmware upgrade end to end: TftpServer.exe as a process, simulated servers fetching the image
// over TFTP on loopback, the run's workers, results and progress.
#include <cstdlib>
#include <thread>

#include "upgrade_fixture.h"

namespace {

constexpr char kImage[] = "zarnet-update-1.0.0.13.bin";
constexpr size_t kImageSize = 102400;

TEST_F(UpgradeTest, ServerFetchesTheImageAndRunsItsVersion_TenRunsInARow) {
  const std::string image = WriteImage(kImage, kImageSize);
  for (int run = 0; run < 10; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    servers_.clear();
    auto& server = AddServer(12, 1, 12);
    selected_.RemoveAll();
    Select("127.0.0.12", 1, 12);
    ASSERT_EQ(CheckUpgradeRun(selected_, kImage), FW_CHECK_GO);

    CTftpServerControl control;
    ASSERT_TRUE(control.StartTftpServer("C:\\fw images"));
    {
      CFirmwareUpgradeRun upgrade;
      ASSERT_NO_FATAL_FAILURE(StartRun(upgrade, kImage, kImageSize));
      ASSERT_TRUE(upgrade.WaitForWorkers(30000));
      DWORD result = 0;
      ASSERT_TRUE(upgrade.GetRowResult(0, &result));
      EXPECT_EQ(result, UPGRADE_RESULT_SUCCESS);
      EXPECT_EQ(upgrade.GetRowBlocks(0), 201u);
      EXPECT_EQ(upgrade.GetRowPercent(0), 100);
      EXPECT_EQ(upgrade.GetOutstanding(), 0);
    }
    tftp::SharedRecord record{};
    ASSERT_TRUE(FindRecord("127.0.0.12", record));
    EXPECT_EQ(+record.state, tftp::kStateEnded);
    EXPECT_EQ(+record.result, tftp::kResultSuccess);
    EXPECT_EQ(+record.blocks, 201u);
    auto fetched = server.upgrade();
    EXPECT_EQ(fetched.state, zarnet::sim::UpgradeStatus::State::kSucceeded);
    EXPECT_TRUE(std::string(fetched.image.begin(), fetched.image.end()) == image) << "image differs";
    EXPECT_EQ(server.configuration().fw_version, "1.0.0.13");

    ASSERT_TRUE(control.StopTftpServer());
    EXPECT_FALSE(ServerEventExists());
    EXPECT_EQ(OpenFileMapping(FILE_MAP_READ, FALSE, tftp::kTableName), nullptr);
  }
}

TEST_F(UpgradeTest, ResultsArePostedToTheStatusWindow) {
  WriteImage(kImage, 5000);
  AddServer(12, 1, 12);
  Select("127.0.0.12", 1, 12);
  Select("127.0.0.13", 1, 12);  // nobody there
  tavrin::win::WindowSpec spec;
  spec.className = "UpgradeStatus";
  HWND window = tavrin::win::CreateWindowObject(spec);
  ASSERT_NE(window, nullptr);

  CTftpServerControl control;
  ASSERT_TRUE(control.StartTftpServer("C:\\fw images"));
  CFirmwareUpgradeRun upgrade;
  ASSERT_NO_FATAL_FAILURE(StartRun(upgrade, kImage, 5000, window));
  ASSERT_TRUE(upgrade.WaitForWorkers(30000));
  std::map<std::string, LPARAM> posted;
  MSG msg;
  while (PeekMessage(&msg, window, WM_UPGRADE_FW_STATUS, WM_UPGRADE_FW_STATUS, PM_REMOVE)) {
    char* ip = reinterpret_cast<char*>(msg.wParam);
    posted[ip] = msg.lParam;
    free(ip);
  }
  ASSERT_EQ(posted.size(), 2u);
  EXPECT_EQ(static_cast<DWORD>(posted["127.0.0.12"]), UPGRADE_RESULT_SUCCESS);
  EXPECT_EQ(posted["127.0.0.13"], 0);  // command 8 never reached it
  EXPECT_TRUE(control.StopTftpServer());
  DestroyWindow(window);
}

TEST_F(UpgradeTest, MissingImageIsATftpErrorAndAFailure) {
  WriteImage(kImage, kImageSize);
  AddServer(12, 1, 12);
  Select("127.0.0.12", 1, 12);
  CTftpServerControl control;
  ASSERT_TRUE(control.StartTftpServer("C:\\fw images"));
  std::filesystem::remove(images_ / kImage);  // gone between the check and the server's request
  CFirmwareUpgradeRun upgrade;
  ASSERT_NO_FATAL_FAILURE(StartRun(upgrade, kImage, kImageSize));
  ASSERT_TRUE(upgrade.WaitForWorkers(30000));
  DWORD result = 0;
  ASSERT_TRUE(upgrade.GetRowResult(0, &result));
  EXPECT_EQ(result, 1u);
  EXPECT_STREQ(UpgradeResultText(result), "Upgrade Fail");
  tftp::SharedRecord record{};
  ASSERT_TRUE(FindRecord("127.0.0.12", record));
  EXPECT_EQ(+record.result, 1u);
  // The server takes the error packet on its own thread, possibly after our side has seen the record.
  auto& server = *servers_[0];
  EXPECT_TRUE(server.WaitUntil([&] { return server.upgrade().tftp_error == 1; },
                               tavrin::test::Patient(std::chrono::seconds(30))));
  EXPECT_TRUE(control.StopTftpServer());
}

TEST_F(UpgradeTest, NoAnswerOrAnotherVersionAfterTheTransferIsAFailure) {
  // The time for the new version counts from the worker's start, the transfer included: the old version's
  // answer must come within it however slow a busy computer makes the transfer. Both rows take that time
  // whole, side by side in one run.
  UpgradeSettings settings = GetUpgradeSettings();
  settings.configTimeoutMs = static_cast<DWORD>(tavrin::test::Patient(std::chrono::seconds(5)).count());
  SetUpgradeSettings(settings);
  // 257 keeps its low byte (1) here; the server cannot take it and stays at 1.0.0.12.
  const char* odd = "zarnet-update-257.0.0.13.bin";
  WriteImage(odd, 3000);
  auto& stays = AddServer(12, 1, 12);
  auto& silent = AddServer(14, 1, 12);
  zarnet::sim::Fault refuse;
  refuse.kind = zarnet::sim::FaultKind::kStatus;
  refuse.command = 4;
  refuse.number = 2;
  silent.AddFault(refuse);

  CTftpServerControl control;
  ASSERT_TRUE(control.StartTftpServer("C:\\fw images"));
  Select("127.0.0.12", 1, 12);
  Select("127.0.0.14", 1, 12);
  ASSERT_EQ(CheckUpgradeRun(selected_, odd), FW_CHECK_GO);
  CFirmwareUpgradeRun upgrade;
  ASSERT_NO_FATAL_FAILURE(StartRun(upgrade, odd, 3000));
  ASSERT_TRUE(upgrade.WaitForWorkers(static_cast<DWORD>(tavrin::test::Patient(std::chrono::seconds(60)).count())));
  const struct {
    const char* ip;
    DWORD expected;
  } rows[] = {{"127.0.0.12", UPGRADE_RESULT_VERSION_MISMATCH}, {"127.0.0.14", UPGRADE_RESULT_NO_ANSWER}};
  for (int row = 0; row < 2; ++row) {
    SCOPED_TRACE(rows[row].ip);
    ASSERT_EQ(upgrade.GetRowIp(row), CString(rows[row].ip));
    DWORD result = 0;
    ASSERT_TRUE(upgrade.GetRowResult(row, &result));
    EXPECT_EQ(result, rows[row].expected);
    EXPECT_STREQ(UpgradeResultText(result), "Upgrade Fail");
    tftp::SharedRecord record{};
    ASSERT_TRUE(FindRecord(rows[row].ip, record));
    EXPECT_EQ(+record.result, tftp::kResultSuccess) << "the transfer itself went well";
  }
  EXPECT_EQ(stays.configuration().fw_version, "1.0.0.12");
  EXPECT_TRUE(control.StopTftpServer());
}

TEST_F(UpgradeTest, CancelEndsEveryWorker) {
  WriteImage(kImage, kImageSize);
  // The server asks a port where nothing answers: the transfer never begins.
  zarnet::sim::ServerOptions options = zarnet::sim::LoopbackServerOptions(12, deviceLists_.port());
  options.command_port = commandPort_;
  options.fw_major = 1;
  options.fw_minor = 12;
  options.tftp_port = nowhere_.port();
  servers_.push_back(std::make_unique<zarnet::sim::Server>(options));
  ASSERT_TRUE(servers_.back()->Start());
  AddServer(15, 1, 12);
  zarnet::sim::Fault silence;
  silence.kind = zarnet::sim::FaultKind::kSilence;
  silence.command = 8;
  servers_.back()->AddFault(silence);  // never answers command 8
  Select("127.0.0.12", 1, 12);
  Select("127.0.0.15", 1, 12);

  CTftpServerControl control;
  ASSERT_TRUE(control.StartTftpServer("C:\\fw images"));
  CFirmwareUpgradeRun upgrade;
  ASSERT_NO_FATAL_FAILURE(StartRun(upgrade, kImage, kImageSize));
  EXPECT_FALSE(upgrade.WaitForWorkers(100));
  upgrade.Cancel();
  ASSERT_TRUE(upgrade.WaitForWorkers(static_cast<DWORD>(tavrin::test::Patient(std::chrono::seconds(30)).count())));
  for (int row = 0; row < 2; ++row) {
    DWORD result = UPGRADE_RESULT_SUCCESS;
    ASSERT_TRUE(upgrade.GetRowResult(row, &result));
    EXPECT_EQ(result, 0u);
  }
  EXPECT_TRUE(control.StopTftpServer());
  EXPECT_FALSE(ServerEventExists());
}

TEST_F(UpgradeTest, LockLeftByADeadOwnerIsReleased) {
  WriteImage(kImage, 20000);
  AddServer(12, 1, 12);
  Select("127.0.0.12", 1, 12);
  CTftpServerControl control;
  ASSERT_TRUE(control.StartTftpServer("C:\\fw images"));
  // A thread takes the table's lock and ends without giving it back.
  std::thread([] {
    HANDLE lock = OpenMutex(SYNCHRONIZE, FALSE, tftp::kLockName);
    ASSERT_NE(lock, nullptr);
    // The server holds it for each write of the table: a wait that ends at the event, long for a busy computer.
    EXPECT_EQ(WaitForSingleObject(lock, static_cast<DWORD>(tavrin::test::Patient(std::chrono::seconds(30)).count())),
              WAIT_OBJECT_0);
    CloseHandle(lock);
  }).join();
  CFirmwareUpgradeRun upgrade;
  ASSERT_NO_FATAL_FAILURE(StartRun(upgrade, kImage, 20000));
  ASSERT_TRUE(upgrade.WaitForWorkers(30000));
  DWORD result = 0;
  ASSERT_TRUE(upgrade.GetRowResult(0, &result));
  EXPECT_EQ(result, UPGRADE_RESULT_SUCCESS) << "the TFTP server could write its table again";
  EXPECT_TRUE(control.StopTftpServer());
}

TEST_F(UpgradeTest, ServerStartFailures) {
  {
    std::filesystem::remove(tavrin::sysroot::WindowsDir() / "TftpServer.exe");
    CTftpServerControl control;
    EXPECT_FALSE(control.StartTftpServer("C:\\fw images"));
    EXPECT_EQ(control.GetCreateProcessError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(control.GetCreateProcessMessage(), CString("CreateProcess : Error - 2"));
    EXPECT_FALSE(control.StopTftpServer());
  }
  std::filesystem::copy_file(TFTPSERVER_PROGRAM, tavrin::sysroot::WindowsDir() / "TftpServer.exe");
  {
    // The port is taken: the program starts, cannot serve and ends without its event.
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET holder = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(tftpPort_);
    local.sin_addr.s_addr = inet_addr("127.0.0.1");
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    CTftpServerControl control;
    EXPECT_FALSE(control.StartTftpServer("C:\\fw images"));
    EXPECT_EQ(control.GetCreateProcessError(), 0u);
    EXPECT_FALSE(ServerEventExists());
    closesocket(holder);
    WSACleanup();
  }
  // Without a server the table cannot be opened, and no transfer starts.
  Select("127.0.0.12", 1, 12);
  CFirmwareUpgradeRun upgrade;
  upgrade.SetSelectedServers(&selected_);
  EXPECT_FALSE(upgrade.OpenSharedInfo());
  EXPECT_FALSE(upgrade.StartFileTransfer());
  EXPECT_EQ(OpenMutex(SYNCHRONIZE, FALSE, tftp::kLockName), nullptr) << "the probe's mutex was closed again";
}

TEST_F(UpgradeTest, StaleServerIsStoppedBeforeANewRoot) {
  const std::string image = WriteImage(kImage, 4000, 5);
  std::filesystem::create_directories(tavrin::sysroot::MapPath("C:\\old"));
  CTftpServerControl stale;
  ASSERT_TRUE(stale.StartTftpServer("C:\\old"));
  CTftpServerControl control;
  ASSERT_TRUE(control.StartTftpServer("C:\\fw images"));  // the old one goes first, the new one serves

  auto& server = AddServer(12, 1, 12);
  Select("127.0.0.12", 1, 12);
  CFirmwareUpgradeRun upgrade;
  ASSERT_NO_FATAL_FAILURE(StartRun(upgrade, kImage, 4000));
  ASSERT_TRUE(upgrade.WaitForWorkers(30000));
  DWORD result = 0;
  ASSERT_TRUE(upgrade.GetRowResult(0, &result));
  EXPECT_EQ(result, UPGRADE_RESULT_SUCCESS);
  EXPECT_EQ(server.upgrade().image.size(), image.size());
  EXPECT_TRUE(control.StopTftpServer());
}

TEST_F(UpgradeTest, MoreThanTwentyFiveServersStartNothing) {
  for (int i = 0; i < MAX_UPGRADE_SERVERS + 1; ++i) Select("127.0.0.12", 1, 12);
  EXPECT_EQ(CheckUpgradeRun(selected_, kImage), FW_CHECK_TOO_MANY_SERVERS);
  CFirmwareUpgradeRun upgrade;
  upgrade.SetSelectedServers(&selected_);
  EXPECT_FALSE(upgrade.StartFileTransfer());
  EXPECT_EQ(upgrade.GetRowCount(), 0);
}

}  // namespace

namespace {

TEST_F(UpgradeTest, ImageSizeAndEmptyImage) {
  WriteImage("empty.bin", 0);
  WriteImage(kImage, kImageSize);
  ULONGLONG size = 1;
  ASSERT_TRUE(GetImageFileSize("C:\\fw images\\empty.bin", &size));
  EXPECT_EQ(size, 0u);
  ASSERT_TRUE(GetImageFileSize("C:\\fw images\\zarnet-update-1.0.0.13.bin", &size));
  EXPECT_EQ(size, kImageSize);
  EXPECT_FALSE(GetImageFileSize("C:\\fw images\\missing.bin", &size));
  CFirmwareUpgradeRun upgrade;
  upgrade.SetImageSize(0);
  EXPECT_EQ(upgrade.GetRowPercent(0), 0);
}

// The test plays the TFTP server: it owns the lock and the table and writes the records itself.
TEST_F(UpgradeTest, RecordIpIsComparedWithinItsField) {
  UpgradeSettings settings = GetUpgradeSettings();
  settings.configTimeoutMs = 300;
  SetUpgradeSettings(settings);
  HANDLE lock = CreateMutex(nullptr, FALSE, tftp::kLockName);
  HANDLE table = CreateFileMapping(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, tftp::kTableSize, tftp::kTableName);
  auto* records = static_cast<tftp::SharedRecord*>(MapViewOfFile(table, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  ASSERT_NE(records, nullptr);
  // Record 0: the address with more text after it and no end inside the field.
  records[0].port = 5;
  memcpy(records[0].ip, "127.0.0.12XXXXXXXXXXXXXXX", tftp::kIpSize);
  records[0].state = tftp::kStateEnded;
  records[0].result = 1;
  records[1].port = 6;
  strcpy(records[1].ip, "127.0.0.12");
  records[1].blocks = 7;
  records[1].state = tftp::kStateEnded;
  records[1].result = tftp::kResultSuccess;

  zarnet::sim::ServerOptions options = zarnet::sim::LoopbackServerOptions(12, deviceLists_.port());
  options.command_port = commandPort_;
  options.fw_major = 1;
  options.fw_minor = 12;
  options.tftp_port = nowhere_.port();  // its own fetch goes nowhere
  servers_.push_back(std::make_unique<zarnet::sim::Server>(options));
  ASSERT_TRUE(servers_.back()->Start());
  Select("127.0.0.12", 1, 12);
  CFirmwareUpgradeRun upgrade;
  ASSERT_NO_FATAL_FAILURE(StartRun(upgrade, kImage, kImageSize));
  ASSERT_TRUE(upgrade.WaitForWorkers(30000));
  EXPECT_EQ(upgrade.GetRowBlocks(0), 7u) << "record 1, not the longer address of record 0";
  DWORD result = 0;
  ASSERT_TRUE(upgrade.GetRowResult(0, &result));
  EXPECT_EQ(result, UPGRADE_RESULT_VERSION_MISMATCH);  // the server never took an image
  UnmapViewOfFile(records);
  CloseHandle(table);
  CloseHandle(lock);
}

TEST_F(UpgradeTest, CancelWhileWaitingForTheNewVersion) {
  WriteImage("zarnet-update-257.0.0.13.bin", 3000);  // taken, but the server stays at its version
  AddServer(12, 1, 12);
  Select("127.0.0.12", 1, 12);
  CTftpServerControl control;
  ASSERT_TRUE(control.StartTftpServer("C:\\fw images"));
  CFirmwareUpgradeRun upgrade;
  ASSERT_NO_FATAL_FAILURE(StartRun(upgrade, "zarnet-update-257.0.0.13.bin", 3000));
  // The worker asks for the new version once the server's table shows the transfer ended, a moment after
  // the server has its image: the server's answer to it (after the one to the upgrade command) says the
  // worker is there.
  auto& server = *servers_[0];
  ASSERT_TRUE(server.WaitUntil(
      [&] {
        return server.upgrade().state == zarnet::sim::UpgradeStatus::State::kSucceeded && server.commands_answered() >= 2;
      },
      tavrin::test::Patient(std::chrono::seconds(30))));
  EXPECT_FALSE(upgrade.WaitForWorkers(50)) << "still asking for the new version";
  upgrade.Cancel();
  ASSERT_TRUE(upgrade.WaitForWorkers(static_cast<DWORD>(tavrin::test::Patient(std::chrono::seconds(30)).count())));
  DWORD result = 0;
  ASSERT_TRUE(upgrade.GetRowResult(0, &result));
  EXPECT_EQ(result, UPGRADE_RESULT_CANCELLED);
  EXPECT_TRUE(control.StopTftpServer());
}

}  // namespace

namespace {

TEST_F(UpgradeTest, ProgramWithoutItsEventIsNotLeftRunning) {
  UpgradeSettings settings = GetUpgradeSettings();
  settings.startWaitMs = 200;
  SetUpgradeSettings(settings);
  const auto program = tavrin::sysroot::WindowsDir() / "TftpServer.exe";
  std::filesystem::remove(program);
  std::ofstream(program) << "#!/bin/sh\nexec sleep 30\n";
  std::filesystem::permissions(program, std::filesystem::perms::owner_all);
  CTftpServerControl control;
  EXPECT_FALSE(control.StartTftpServer("C:\\fw images"));
  EXPECT_EQ(control.GetCreateProcessError(), 0u);
  EXPECT_EQ(ProcessesOfThisSysroot(), std::vector<int>{}) << "the program still runs";
}

}  // namespace

namespace {

TEST_F(UpgradeTest, TwoServersUpgradeTogether) {
  const std::string image = WriteImage(kImage, 30000, 4);
  auto& first = AddServer(12, 1, 12);
  auto& second = AddServer(16, 1, 10);
  Select("127.0.0.12", 1, 12);
  Select("127.0.0.16", 1, 10);
  ASSERT_EQ(CheckUpgradeRun(selected_, kImage), FW_CHECK_GO);
  CTftpServerControl control;
  ASSERT_TRUE(control.StartTftpServer("C:\\fw images"));
  CFirmwareUpgradeRun upgrade;
  ASSERT_NO_FATAL_FAILURE(StartRun(upgrade, kImage, 30000));
  ASSERT_TRUE(upgrade.WaitForWorkers(30000));
  ASSERT_EQ(upgrade.GetRowCount(), 2);
  for (int row = 0; row < 2; ++row) {
    DWORD result = 0;
    ASSERT_TRUE(upgrade.GetRowResult(row, &result));
    EXPECT_EQ(result, UPGRADE_RESULT_SUCCESS) << row;
    EXPECT_EQ(upgrade.GetRowBlocks(row), 59u) << row;  // 58 full blocks and a part
  }
  EXPECT_EQ(upgrade.GetRowIp(1), CString("127.0.0.16"));
  for (auto* server : {&first, &second}) {
    auto fetched = server->upgrade();
    EXPECT_TRUE(std::string(fetched.image.begin(), fetched.image.end()) == image);
    EXPECT_EQ(server->configuration().fw_version, "1.0.0.13");
  }
  EXPECT_TRUE(control.StopTftpServer());
}

}  // namespace
