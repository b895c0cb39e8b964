#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tftpserver/TftpServer.h"

namespace {

std::string Packet(uint16_t opcode, const std::string& rest) {
  std::string packet;
  packet += static_cast<char>(opcode >> 8);
  packet += static_cast<char>(opcode & 0xFF);
  return packet + rest;
}

std::optional<tftp::Request> Parse(const std::string& packet) {
  return tftp::ParseRequest(reinterpret_cast<const uint8_t*>(packet.data()), packet.size());
}

TEST(TftpPackets, RequestsAreReadWithinTheirBytes) {
  auto request = Parse(Packet(1, std::string("zarnet-update-1.0.0.13.bin\0OcTeT\0blksize\0" "1428\0", 42)));
  ASSERT_TRUE(request);
  EXPECT_EQ(request->opcode, 1);
  EXPECT_EQ(request->file, "zarnet-update-1.0.0.13.bin");
  EXPECT_EQ(request->mode, "octet");
  EXPECT_EQ(Parse(Packet(2, std::string("x\0octet\0", 8)))->opcode, 2);

  EXPECT_FALSE(Parse(Packet(1, "name-without-end")));
  EXPECT_FALSE(Parse(Packet(1, std::string("name\0octet", 10))));  // mode not ended
  EXPECT_FALSE(Parse(Packet(1, std::string("name\0", 5))));
  EXPECT_FALSE(Parse(Packet(3, std::string("x\0octet\0", 8))));
  EXPECT_FALSE(Parse(std::string("\0", 1)));
  EXPECT_FALSE(tftp::ParseRequest(nullptr, 10));
}

TEST(TftpPackets, NamesThatLeaveTheRootAreUnsafe) {
  EXPECT_TRUE(tftp::IsSafeFileName("zarnet-update-1.0.0.13.bin"));
  for (const char* name : {"", "../secret", "a/b", "a\\b", "..", "x..y", "C:boot.ini", "/etc/passwd"})
    EXPECT_FALSE(tftp::IsSafeFileName(name)) << name;
}

TEST(TftpPackets, CommandLineGivesTheRootWithItsBlanks) {
  unsetenv("TAVRIN_TFTP_PORT");
  auto options = tftp::OptionsFromCommandLine("TFTP_ROOT=C:\\Documents and Settings\\fw images");
  ASSERT_TRUE(options);
  EXPECT_EQ(options->root, "C:\\Documents and Settings\\fw images");
  EXPECT_EQ(options->port, 69);
  EXPECT_EQ(options->address, "0.0.0.0");
  EXPECT_FALSE(tftp::OptionsFromCommandLine("TftpServer.exe"));
  EXPECT_FALSE(tftp::OptionsFromCommandLine("TFTP_ROOT="));

  setenv("TAVRIN_TFTP_PORT", "70000", 1);
  EXPECT_FALSE(tftp::OptionsFromCommandLine("TFTP_ROOT=C:\\x"));
  setenv("TAVRIN_TFTP_PORT", "6969", 1);
  EXPECT_EQ(tftp::OptionsFromCommandLine("TFTP_ROOT=C:\\x")->port, 6969);
  unsetenv("TAVRIN_TFTP_PORT");
}

}  // namespace
