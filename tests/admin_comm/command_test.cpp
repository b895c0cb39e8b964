// The command protocol end to end against a simulated server on 127.0.0.2: every command, every result
// code the server or the connection can cause, and the life of the command thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "admin/comm/ResponseReader.h"
#include "admin/comm/ServerComm.h"
#include "comm_test_util.h"
#include "trace_capture.h"
#include "win32/user.h"
#include "zarnet/sim/server.h"
#include "zarnet/sim/simulator.h"

namespace {

using namespace std::chrono_literals;
using zarnet::sim::Fault;
using zarnet::sim::FaultKind;

constexpr char kServerIp[] = "127.0.0.2";
constexpr DWORD kDoneMessage = WM_USER + 13;

Fault CommandFault(FaultKind kind, uint32_t command = 0) {
  Fault fault;
  fault.kind = kind;
  fault.command = command;
  return fault;
}

class CommandTest : public CommTest {
 protected:
  void SetUp() override {
    CommTest::SetUp();
    deviceLists_ = std::make_unique<UdpSocket>("127.0.0.1");
    zarnet::sim::ServerOptions options = zarnet::sim::LoopbackServerOptions(2, deviceLists_->port());
    options.password_enable = true;
    options.password = "open sesame";
    options.tftp_port = deviceLists_->port();  // upgrades fetch from a port that never answers
    options.tftp_retries = 0;
    server_ = std::make_unique<zarnet::sim::Server>(options);
    std::string error;
    ASSERT_TRUE(server_->Start(&error)) << error;
    ServerCommSettings settings = TestSettings();
    settings.commandPort = server_->command_port();
    SetDefaultServerCommSettings(settings);
    tavrin::win::WindowSpec spec;
    spec.className = "CommandTestWindow";
    window_ = tavrin::win::CreateWindowObject(spec);
    ASSERT_NE(window_, nullptr);
  }
  void TearDown() override {
    DestroyWindow(window_);
    server_.reset();
    deviceLists_.reset();
    tavrin::SetResponseReallocForTest(nullptr);
    CommTest::TearDown();
  }

  // The result posted to the test's window, or nothing within the limit.
  std::optional<DWORD> PostedResult(std::chrono::milliseconds limit = 10000ms) {
    MSG msg{};
    bool got = Eventually([&] { return PeekMessage(&msg, window_, kDoneMessage, kDoneMessage, PM_REMOVE) != FALSE; },
                       limit);
    if (!got) return std::nullopt;
    EXPECT_EQ(msg.lParam, 0);
    return static_cast<DWORD>(msg.wParam);
  }
  // After a reset the server's services are down for a moment.
  void WaitUntilServing(int restarts) {
    ASSERT_TRUE(server_->WaitUntil([&] { return server_->restarts() >= restarts && server_->running(); }, 5000ms));
  }
  DWORD Unlock(CServerComm& comm, const std::string& password) {
    EXPECT_EQ(comm.UnLockServer(kServerIp, reinterpret_cast<const BYTE*>(password.data()),
                                static_cast<DWORD>(password.size()), nullptr, window_, kDoneMessage),
              0u);
    return PostedResult().value_or(0xDEAD);
  }

  std::unique_ptr<UdpSocket> deviceLists_;
  std::unique_ptr<zarnet::sim::Server> server_;
  HWND window_ = nullptr;
};

TEST_F(CommandTest, ConfigurationAndConnectedClientsArriveThroughTheFile) {
  zarnet::sim::Device printer;
  printer.port = 3;
  printer.busy = true;
  printer.client_ip = "127.0.0.1";
  server_->Plug(printer);

  CServerComm comm;
  ASSERT_EQ(comm.GetConfigInfo(kServerIp, nullptr, nullptr, 0), CMD_RESULT_SUCCESS);
  const TavrinConfInfo& info = comm.m_TavrinConfInfo;
  EXPECT_STREQ(info.server_name, "zarnet-2");
  EXPECT_EQ(DWORD{info.serial_no}, 2u);
  EXPECT_STREQ(info.net_mask, "255.255.255.0");
  EXPECT_EQ(DWORD{info.enable}, 1u);
  EXPECT_STREQ(info.password, "open sesame");

  ASSERT_EQ(comm.GetConnectedClientDetails(kServerIp, nullptr, window_, kDoneMessage), CMD_RESULT_SUCCESS);
  EXPECT_EQ(PostedResult(), CMD_RESULT_SUCCESS);
  ConnectionEntry* entry = comm.m_ConnectedClientsInfo.first;
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(DWORD{entry->port_no}, 3u);
  EXPECT_STREQ(entry->client_ip, "127.0.0.1");
  EXPECT_STREQ(comm.m_ConnectedClientsInfo.server_ip, kServerIp);
}

TEST_F(CommandTest, SetConfigInfoSendsTheEditedSectionsAndResetsAfterStatusOne) {
  CServerComm comm;
  strcpy(comm.m_TavrinConfInfo.server_name, "renamed");
  comm.m_TavrinConfInfo.basic_changed = 1;
  ASSERT_EQ(comm.SetConfigInfo(kServerIp, nullptr, window_, kDoneMessage), CMD_RESULT_SUCCESS);
  // The server answers STATUS 1; the result posted is that of the reset that follows.
  EXPECT_EQ(PostedResult(), CMD_RESULT_SUCCESS);
  EXPECT_EQ(server_->configuration().server_name, "renamed");
  EXPECT_EQ(server_->configuration().net_mask, "255.255.255.0");  // not sent, not changed
  WaitUntilServing(1);
}

TEST_F(CommandTest, FactoryDefaultsResetAndFirmwareUpgrade) {
  CServerComm comm;
  ASSERT_EQ(comm.RestoreFactoryDefaults(kServerIp, nullptr, window_, kDoneMessage), CMD_RESULT_SUCCESS);
  EXPECT_EQ(PostedResult(), CMD_RESULT_SUCCESS);
  WaitUntilServing(1);
  EXPECT_EQ(comm.ResetServer(kServerIp, nullptr, nullptr, 0), CMD_RESULT_SUCCESS);
  WaitUntilServing(2);
  const std::string image = "zarnet-update-2.1.bin";
  EXPECT_EQ(comm.UpGradeFirmware(kServerIp, reinterpret_cast<const BYTE*>(image.data()),
                                 static_cast<DWORD>(image.size()), nullptr, nullptr, 0),
            CMD_RESULT_SUCCESS);
  // The server starts fetching the image once its answer is out.
  EXPECT_TRUE(server_->WaitUntil([&] { return server_->upgrade().file == image; }, 5000ms));
}

TEST_F(CommandTest, UnlockReportsWrongPasswordAndRefusals) {
  CServerComm comm;
  EXPECT_EQ(Unlock(comm, "guess"), CMD_RESULT_INCORRECT_PASSWORD);
  EXPECT_TRUE(server_->locked());
  server_->AddFault([] {
    Fault fault = CommandFault(FaultKind::kStatus, 3);
    fault.number = 2;
    fault.times = 1;
    return fault;
  }());
  EXPECT_EQ(Unlock(comm, "open sesame"), CMD_RESULT_INVALID_RESPONSE);
  EXPECT_EQ(Unlock(comm, "open sesame"), CMD_RESULT_SUCCESS);
  EXPECT_FALSE(server_->locked());
}

TEST_F(CommandTest, ResponsesThatBreakTheFormAreInvalid) {
  TraceCapture trace;
  CServerComm comm;
  Fault wrongNumber = CommandFault(FaultKind::kWrongRspNumber);
  wrongNumber.number = 5;
  server_->AddFault(wrongNumber);
  EXPECT_EQ(comm.GetConfigInfo(kServerIp, nullptr, nullptr, 0), CMD_RESULT_INVALID_RESPONSE);
  EXPECT_TRUE(trace.Contains("ProcessRsp()::Invalid RSP\n"));
  server_->ClearFaults();
  server_->AddFault(CommandFault(FaultKind::kMissingStatus));
  EXPECT_EQ(comm.GetConfigInfo(kServerIp, nullptr, nullptr, 0), CMD_RESULT_INVALID_RESPONSE);
  EXPECT_TRUE(trace.Contains("ProcessRsp()::Invalid CMD responce from server\n"));
  // Cut inside the first tag: the reader must not run past the five bytes received.
  server_->ClearFaults();
  Fault truncate = CommandFault(FaultKind::kTruncate);
  truncate.size = 5;
  server_->AddFault(truncate);
  EXPECT_EQ(comm.GetConfigInfo(kServerIp, nullptr, nullptr, 0), CMD_RESULT_CONNECTION_CLOSED);
}

TEST_F(CommandTest, ConnectionFailuresEndTheCommandWithTheirCodes) {
  TraceCapture trace;
  CServerComm comm;
  server_->AddFault(CommandFault(FaultKind::kEarlyClose, 4));
  EXPECT_EQ(comm.GetConfigInfo(kServerIp, nullptr, nullptr, 0), CMD_RESULT_CONNECTION_CLOSED);
  EXPECT_TRUE(trace.Contains("received 0 bytes. Connection has closed."));
  server_->ClearFaults();
  server_->AddFault(CommandFault(FaultKind::kMissingEnd));
  EXPECT_EQ(comm.GetConfigInfo(kServerIp, nullptr, nullptr, 0), CMD_RESULT_CONNECTION_CLOSED);
  server_->ClearFaults();

  // Silence: ten receive time-outs of 50 ms, then "no response".
  server_->AddFault(CommandFault(FaultKind::kSilence));
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(comm.GetConfigInfo(kServerIp, nullptr, nullptr, 0), CMD_RESULT_NO_RESPONSE);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 450ms);
  EXPECT_TRUE(trace.Contains("ExecuteCmdTh() :: recv has timedout Error: 10060 \n"));

  // Refused (nothing listens), and an address no server can have.
  server_->Stop();
  EXPECT_EQ(comm.ResetServer(kServerIp, nullptr, nullptr, 0), CMD_RESULT_CONNECT_FAILED);
  EXPECT_TRUE(trace.Contains("CommunicationInit() :: connect() error:10061\n"));
  EXPECT_EQ(comm.ResetServer("300.1.2.3", nullptr, nullptr, 0), CMD_RESULT_CONNECT_FAILED);
  EXPECT_EQ(comm.ResetServer("", nullptr, nullptr, 0), CMD_RESULT_CONNECT_FAILED);
}

TEST_F(CommandTest, CancelEndsASilentCommandWithinOneReceive) {
  server_->AddFault(CommandFault(FaultKind::kSilence));
  TraceCapture trace;
  CServerComm comm;
  DWORD cancel = 0;
  ASSERT_EQ(comm.GetConfigInfo(kServerIp, &cancel, window_, kDoneMessage), CMD_RESULT_SUCCESS);
  ASSERT_TRUE(Eventually([&] { return trace.Contains("Sending the command out...\n"); }));  // then it receives
  __atomic_store_n(&cancel, 1, __ATOMIC_SEQ_CST);
  EXPECT_EQ(PostedResult(), CMD_RESULT_CANCELLED);  // ten time-outs would end it with 12 instead
}

// A server that answers a byte now and then, never long enough apart for one receive to time out, is
// given up at the whole response's deadline.
TEST_F(CommandTest, AResponseThatTricklesInEndsAtItsDeadline) {
  TraceCapture trace;
  Fault drip = CommandFault(FaultKind::kSplit);
  drip.chunk = 1;
  drip.delay = 20ms;  // below the receive time-out of 50 ms; the whole answer takes seconds
  server_->AddFault(drip);
  CServerComm comm;
  ServerCommSettings settings = comm.Settings();
  settings.commandResponseTimeoutMs = 300;
  comm.SetSettings(settings);
  EXPECT_EQ(comm.GetConfigInfo(kServerIp, nullptr, nullptr, 0), CMD_RESULT_NO_RESPONSE);
  EXPECT_TRUE(trace.Contains("No whole response within 300 ms\n"));
}

TEST_F(CommandTest, ResponsesInPiecesLongOnesAndSmallLettersAreAssembled) {
  CServerComm comm;
  Fault split = CommandFault(FaultKind::kSplit);
  split.chunk = 7;
  server_->AddFault(split);
  Fault oversize = CommandFault(FaultKind::kOversize);
  oversize.size = 5000;  // the buffer grows past its first 1024 bytes several times
  server_->AddFault(oversize);
  server_->AddFault(CommandFault(FaultKind::kLowerCaseTags));
  EXPECT_EQ(comm.GetConfigInfo(kServerIp, nullptr, nullptr, 0), CMD_RESULT_SUCCESS);
  EXPECT_STREQ(comm.m_TavrinConfInfo.server_name, "zarnet-2");
}

TEST_F(CommandTest, ResponsesAreCappedAndAFailedGrowthIsReported) {
  TraceCapture trace;
  Fault oversize = CommandFault(FaultKind::kOversize);
  oversize.size = 5000;
  server_->AddFault(oversize);

  CServerComm capped;
  ServerCommSettings settings = capped.Settings();
  settings.maxResponseSize = 4096;
  capped.SetSettings(settings);
  EXPECT_EQ(capped.GetConfigInfo(kServerIp, nullptr, nullptr, 0), CMD_RESULT_INVALID_RESPONSE);

  static std::atomic<int> calls{0};
  calls = 0;
  tavrin::SetResponseReallocForTest([](void* block, size_t size) -> void* {
    return ++calls > 1 ? nullptr : realloc(block, size);  // the first buffer, then no more memory
  });
  CServerComm starved;
  EXPECT_EQ(starved.GetConfigInfo(kServerIp, nullptr, nullptr, 0), CMD_RESULT_RECV_FAILED);
  EXPECT_TRUE(trace.Contains("realloc failed...\n"));
}

TEST_F(CommandTest, OneCommandAtATimeAndTheObjectWaitsForItsThread) {
  server_->AddFault(CommandFault(FaultKind::kSilence));
  DWORD cancel = 0;
  auto comm = std::make_unique<CServerComm>();
  ASSERT_EQ(comm->GetConfigInfo(kServerIp, &cancel, window_, kDoneMessage), CMD_RESULT_SUCCESS);
  // The first command still runs: the second is not started and the first's context stays intact.
  EXPECT_EQ(comm->ResetServer(kServerIp, nullptr, nullptr, 0), CMD_RESULT_THREAD_NOT_STARTED);
  EXPECT_EQ(DWORD{comm->m_CommandContext.Command}, CMD_GET_CONFIG_INFO);
  __atomic_store_n(&cancel, 1, __ATOMIC_SEQ_CST);
  comm.reset();  // waits for the thread, which still uses the object (the address sanitizer checks)
  EXPECT_EQ(PostedResult(0ms), CMD_RESULT_CANCELLED);

  // Once the answer is in, the same object runs the next command.
  server_->ClearFaults();
  CServerComm again;
  ASSERT_EQ(again.GetConfigInfo(kServerIp, nullptr, window_, kDoneMessage), CMD_RESULT_SUCCESS);
  EXPECT_EQ(PostedResult(), CMD_RESULT_SUCCESS);
  EXPECT_EQ(again.GetConnectedClientDetails(kServerIp, nullptr, nullptr, 0), CMD_RESULT_SUCCESS);
}

TEST_F(CommandTest, CommandsBackToBackOnOneObjectEachGetTheirOwnResult) {
  // The next command is started as soon as the last one's result is posted, while its thread may still be
  // on its way back to wait; each waiting caller gets its own command's result.
  CServerComm comm;
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(comm.GetConfigInfo(kServerIp, nullptr, window_, kDoneMessage), CMD_RESULT_SUCCESS);
    ASSERT_EQ(PostedResult(), CMD_RESULT_SUCCESS);
    ASSERT_EQ(comm.GetConnectedClientDetails(kServerIp, nullptr, nullptr, 0), CMD_RESULT_SUCCESS);
    ASSERT_EQ(Unlock(comm, "wrong"), CMD_RESULT_INCORRECT_PASSWORD);
    ASSERT_EQ(comm.GetConfigInfo("300.1.2.3", nullptr, nullptr, 0), CMD_RESULT_CONNECT_FAILED);
  }
  EXPECT_STREQ(comm.m_TavrinConfInfo.password, "open sesame");
}

TEST_F(CommandTest, UnknownCommandNumbersAreNotDone) {
  CServerComm comm;
  comm.m_CommandContext = {};
  strcpy(comm.m_CommandContext.ServerIp, kServerIp);
  comm.m_CommandContext.Port = server_->command_port();
  comm.m_CommandContext.Command = 9;
  comm.m_CommandContext.Owner = &comm;
  char* request = nullptr;  // the context is packed: no pointers to its members
  DWORD length = 0;
  ASSERT_TRUE(comm.BuildRequest(&request, &length, 9, nullptr, 0, 0));
  comm.m_CommandContext.Request = request;
  comm.m_CommandContext.RequestLength = length;
  HANDLE thread = nullptr;
  ASSERT_EQ(ExecuteCmd(&comm.m_CommandContext, &thread), 0u);
  WaitForSingleObject(thread, INFINITE);
  DWORD result = 0;
  GetExitCodeThread(thread, &result);
  CloseHandle(thread);
  // The server refuses number 9 with STATUS 2 echoing it; the client has no handler for it.
  EXPECT_EQ(result, CMD_RESULT_NOT_DONE);
}

TEST_F(CommandTest, RequestFormsAreByteExact) {
  CServerComm comm;
  auto build = [&](DWORD command, const std::string& data, DWORD subCommand) {
    char* request = nullptr;
    DWORD length = 0;
    EXPECT_TRUE(comm.BuildRequest(&request, &length, command, reinterpret_cast<const BYTE*>(data.data()),
                                  static_cast<DWORD>(data.size()), subCommand));
    std::string text(request, length);
    free(request);
    return text;
  };
  EXPECT_EQ(build(2, "", 0), "<CMD=2>\n</CMD>");
  EXPECT_EQ(build(3, "pw", 0), "<CMD=3>\n<DATA>\npw\n</DATA>\n</CMD>");
  EXPECT_EQ(build(7, "4", 3), "<CMD=7>\n<SCMD=3>\n</SCMD>\n<DATA>\n4\n</DATA>\n</CMD>");

  // Command 5 carries the file as it stands: only the Network section here, no line feed added.
  TavrinConfInfo& info = comm.m_TavrinConfInfo;
  info.network_changed = 1;
  strcpy(info.ip_address, "127.0.0.2");
  comm.WriteRspToFile(nullptr, 0);
  comm.WriteConfInfo();
  std::string request = build(5, "", 0);
  ASSERT_EQ(request.rfind("<CMD=5>\n<DATA>\n[NetworkSettings]\n", 0), 0u) << request;
  EXPECT_NE(request.find("mac_addr="), std::string::npos);
  EXPECT_EQ(request.find("[Password]"), std::string::npos);
  EXPECT_EQ(request.substr(request.size() - 15), "\n</DATA>\n</CMD>");
  EXPECT_EQ(request.find("\n\n</DATA>"), std::string::npos);
  comm.WriteRspToFile(nullptr, 0);
  EXPECT_EQ(build(5, "", 0), "<CMD=5>\n<DATA>\n</DATA>\n</CMD>");
}

}  // namespace
