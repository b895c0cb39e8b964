// The document's services over its lists, and the product-string thread as the device list starts it:
// on the application's document, with a heap copy of the device's entry.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "admin/TavrinAdminApp.h"
#include "admin/TavrinAdminDoc.h"
#include "admin/comm/ProductString.h"
#include "admin/comm/ServerComm.h"
#include "comm_test_util.h"
#include "trace_capture.h"
#include "zarnet/sim/server.h"
#include "zarnet/sim/simulator.h"

namespace {

class DocumentTest : public CommTest {
 protected:
  void SetUp() override {
    CommTest::SetUp();
    trace_ = std::make_unique<TraceCapture>();  // also the application object the thread finds
    document_ = std::make_unique<CTavrinAdminDoc>();
    document_->CreateEventsAndLocks();
  }
  void TearDown() override {
    for (POSITION position = document_->m_DeviceList.GetHeadPosition(); position != nullptr;) {
      free(document_->m_DeviceList.GetNext(position).ProductString);
    }
    document_->CleanUp();
    document_.reset();
    trace_.reset();
    CommTest::TearDown();
  }

  std::unique_ptr<TraceCapture> trace_;
  std::unique_ptr<CTavrinAdminDoc> document_;
};

TEST_F(DocumentTest, ListServicesWorkOnTheDocumentsLists) {
  ServerPresenceEntry presence{};
  strcpy(presence.ServerIp, "127.0.0.6");
  presence.ServerId = 0x5A000006;
  document_->m_ServerPresenceList.AddTail(presence);
  ServerPresenceEntry found{};
  ASSERT_TRUE(document_->FindServerPresence("127.0.0.6", &found));
  EXPECT_EQ(found.ServerId, 0x5A000006u);
  EXPECT_FALSE(document_->FindServerPresence("127.0.0.60", &found));

  ServerDiscoveryRecord record{};
  strcpy(record.ServerIp, "127.0.0.6");
  document_->m_DiscoveredServers.AddTail(record);
  ServerDiscoveryRecord discovered{};
  EXPECT_TRUE(document_->FindDiscoveredServer("127.0.0.6", &discovered));

  DeviceEntry device{};
  strcpy(device.ServerIp, "127.0.0.6");
  device.PortNum = 2;
  device.State = DEVICE_STATE_CONNECTED;
  document_->m_DeviceList.AddTail(device);
  EXPECT_FALSE(document_->CanRemoveServer("127.0.0.6"));
  EXPECT_TRUE(document_->SetProductStringState("127.0.0.6", 2, 1));
  zarnet::iproduct_string text{};
  text.length = 2;
  memcpy(text.text, "Hi", 2);
  EXPECT_TRUE(document_->StoreProductString("127.0.0.6", 2, &text));
  EXPECT_STREQ(document_->m_DeviceList.GetHead().ProductString, "Hi");

  // This system has no process security: enabling a privilege succeeds as on Windows without it.
  EXPECT_TRUE(document_->EnablePrivilege("SeShutdownPrivilege"));
}

TEST_F(DocumentTest, ProductStringThreadFillsTheListedDevice) {
  UdpSocket deviceLists("127.0.0.1");
  zarnet::sim::Server server(zarnet::sim::LoopbackServerOptions(6, deviceLists.port()));
  zarnet::sim::Device scanner;
  scanner.port = 4;
  scanner.product = "Scanner";
  server.Plug(scanner);
  ASSERT_TRUE(server.Start());
  ServerCommSettings settings = TestSettings();
  settings.commandPort = server.command_port();
  SetDefaultServerCommSettings(settings);

  DeviceEntry device{};
  strcpy(device.ServerIp, "127.0.0.6");
  device.PortNum = 4;
  document_->m_DeviceList.AddTail(device);
  HANDLE thread = CreateThread(nullptr, 0, GetIProdStringDescTh, new DeviceEntry(device), 0, nullptr);
  ASSERT_NE(thread, nullptr);
  WaitForSingleObject(thread, INFINITE);
  DWORD result = 0xDEAD;
  GetExitCodeThread(thread, &result);
  CloseHandle(thread);
  EXPECT_EQ(result, CMD_RESULT_SUCCESS);
  EXPECT_STREQ(document_->m_DeviceList.GetHead().ProductString, "Scanner");
  EXPECT_TRUE(trace_->Contains("GetIProdStringDescTh >>Stoped ServerIP 127.0.0.6, USBPort 4\n"));
}

}  // namespace
