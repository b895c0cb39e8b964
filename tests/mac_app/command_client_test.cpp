// The command client against a scripted peer on a socket pair: the reply's fixed positions, replies in
// several segments, and the follow-up reset.
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>

#include "TavrinMac/serverManager.h"
#include "mac_fixture.h"

namespace tavrinmac::test {
namespace {

// "<RSP=N>\n<STATUS=S>\n</STATUS>\n" then an optional DATA part and "</RSP>": the servers' one form.
std::string Reply(char command, char status, const std::string& data = "", bool withData = false) {
  std::string r = std::string("<RSP=") + command + ">\n<STATUS=" + status + ">\n</STATUS>\n";
  if (withData) r += "<DATA>\n" + data + "\n</DATA>\n";
  return r + "</RSP>";
}

class CommandClientTest : public MacTest {
 protected:
  // Runs the command on one end of a pair while the peer reads the request and answers with the parts,
  // each sent only once the client has read the one before.
  iproduct_string* Exchange(int command, const char* data, const std::vector<std::string>& parts,
                            const char* address = "127.0.0.9") {
    int pair[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    std::thread peer([&, fd = pair[1], client = pair[0]] {
      char buffer[1024];
      std::string got;
      while (got.find("</CMD>") == std::string::npos) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        got.append(buffer, static_cast<size_t>(n));
      }
      request_ = got;
      for (const std::string& part : parts) {
        // The client has read everything sent so far: this part arrives as a segment of its own.
        for (int unread = 1; unread > 0;) ioctl(client, FIONREAD, &unread);
        if (write(fd, part.data(), part.size()) < 0) break;
      }
      close(fd);
    });
    iproduct_string* result = serverManager::set_command(command, data, pair[0], address);
    peer.join();
    return result;
  }
  std::string request_;
};

TEST_F(CommandClientTest, ARepliesSplitOverSegmentsIsReadToItsEndTag) {
  const std::string config = "[GeneralSettings]\nserver_model=Zarnet-1\nfw_version=1.0.0.12\nhw_version=1.0\n";
  std::string whole = Reply('4', '0', config, true);
  globalStatus = 0;
  Exchange(4, nullptr, {whole.substr(0, 20), whole.substr(20, 30), whole.substr(50)});
  EXPECT_EQ(request_, "<CMD=4>\n</CMD>");
  EXPECT_EQ(globalStatus.load(), 1);
  ASSERT_NE(serverConfigDataGlobal, nullptr);
  EXPECT_EQ(serverConfigDataGlobal->str(), "\n" + config + "\n");  // from the line end after "<DATA>" to "</DATA>"
  ASSERT_NE(serverDataGlobal, nullptr);
  EXPECT_STREQ(serverDataGlobal->fw_version, "1.0.0.12");

  // Without its end tag (the connection closed early) a reply is ignored.
  globalStatus = 0;
  Exchange(4, nullptr, {whole.substr(0, 40)});
  EXPECT_EQ(globalStatus.load(), 0);
}

TEST_F(CommandClientTest, RequestsTakeTheirFormsAndStatusesTheirAlerts) {
  Exchange(3, "lab", {Reply('3', '3')});
  EXPECT_EQ(request_, "<CMD=3>\n<DATA>\nlab\n</DATA>\n</CMD>");
  EXPECT_EQ(globalStatus.load(), 0);
  Exchange(8, "zarnet-update-2.0.0.3.bin", {Reply('8', '2')});
  EXPECT_EQ(request_, "<CMD=8>\nzarnet-update-2.0.0.3.bin\n</CMD>");
  Exchange(6, nullptr, {Reply('6', '4')});
  EXPECT_EQ(ui_.alertLines(), (std::vector<std::string>{"Server Response Invalid Password - 3(127.0.0.9)(3)",
                                                         "Server Response Invalid Command",
                                                         "Server Response Device Not Found - 4(127.0.0.9)"}));
  // The handling follows the reply's own digit: a command 1 reply to command 3 leaves the status alone.
  globalStatus = 1;
  Exchange(3, "x", {Reply('1', '0')});
  EXPECT_EQ(globalStatus.load(), 1);
  // A reset's own success is logged, and asks for no further reset.
  Exchange(2, nullptr, {Reply('2', '1')});
  EXPECT_TRUE(HasLine(ServerLogLines(), "Reset Server : 127.0.0.9 Done\n"));
}

TEST_F(CommandClientTest, ProductStringsComeFromTheirFixedPlace) {
  // "<RSP=7>\n<STATUS=0>\n</STATUS>\n<DATA>\n" puts the u32 length at byte 53... once the status is at 33.
  auto productReply = [](char status, uint32_t length, const std::string& text) {
    std::string r = "<RSP=7>\n<SCMD=3>\n</SCMD>\n<STATUS=";
    r += status;
    r += ">\n</STATUS>\n<DATA>\n";
    EXPECT_EQ(r.size(), 53u);
    r.append(reinterpret_cast<const char*>(&length), 4);
    r += text + "\n</DATA>\n</RSP>";
    return r;
  };
  iproduct_string* p = Exchange(7, "1", {productReply('0', 24, "Office LaserPrinter 1020\nrest")});
  EXPECT_EQ(request_, "<CMD=7>\n<SCMD=3>\n</SCMD>\n<DATA>\n1\n</DATA>\n</CMD>");
  ASSERT_NE(p, nullptr);
  EXPECT_STREQ(p->text, "Office LaserPrinter 1020");
  EXPECT_EQ(Exchange(7, "1", {productReply('0', 0, "")}), nullptr);
  EXPECT_EQ(Exchange(7, "9", {productReply('4', 0, "")}), nullptr);
  EXPECT_TRUE(ui_.alerts().empty());  // command 7 shows no alert
  // A length beyond the record is bounded by it.
  p = Exchange(7, "1", {productReply('0', 100000, std::string(300, 'p'))});
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(strlen(p->text), 254u);
}

TEST_F(CommandClientTest, SetConfigurationsStatusOneIsSuccessAndResetsTheServer) {
  StartServers();
  zarnet::sim::Server& office = server("127.0.0.2");
  const int restarts = office.restarts();
  globalStatus = 0;
  Exchange(5, "[BasicSettings]\nserver_name=x\n", {Reply('5', '1')}, "127.0.0.2");
  EXPECT_EQ(globalStatus.load(), 1);
  EXPECT_TRUE(ui_.alerts().empty());  // no "wrong pwd"
  // The reset (command 2) went to the server on a connection of its own.
  EXPECT_TRUE(office.WaitUntil([&] { return office.restarts() > restarts; }, std::chrono::seconds(5)));
  EXPECT_TRUE(WaitForServerLog("Reset Server : 127.0.0.2 Done\n"));
  globalStatus = 1;
  Exchange(5, "x", {Reply('5', '3')});
  EXPECT_EQ(globalStatus.load(), 0);
  EXPECT_EQ(ui_.alertLines().back(), "password wrong pwd");
}

}  // namespace
}  // namespace tavrinmac::test
