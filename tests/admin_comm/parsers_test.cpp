// The response readers, the byte-pattern search and the vendor table: pure functions over bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "admin/comm/ResponseReader.h"
#include "admin/util/FindPattern.h"
#include "admin/util/UsbVendors.h"

namespace {

const BYTE* Bytes(const char* text) { return reinterpret_cast<const BYTE*>(text); }
DWORD Len(const std::string& text) { return static_cast<DWORD>(text.size()); }

// The text in a heap block of exactly its length, so that the address sanitizer catches a read past it.
struct Exact {
  explicit Exact(const std::string& text) : bytes(text.begin(), text.end()) {}
  const char* data() const { return bytes.data(); }
  DWORD size() const { return static_cast<DWORD>(bytes.size()); }
  std::vector<char> bytes;
};

int Rsp(const std::string& text) {
  Exact exact(text);
  return GetRspCode(exact.data(), exact.size());
}
int Status(const std::string& text) {
  Exact exact(text);
  return GetStatusCode(exact.data(), exact.size());
}
int SCmd(const std::string& text) {
  Exact exact(text);
  return GetSCmdCode(exact.data(), exact.size());
}
BOOL HasData(const std::string& text) {
  Exact exact(text);
  return GetDataFromRspBuff(exact.data(), exact.size(), nullptr, nullptr);
}

TEST(FindPattern, EdgeCases) {
  const char buf[] = "<rsp=4>\n</RSP>";
  const DWORD len = sizeof(buf) - 1;
  // A pattern longer than the buffer is never found, even as a prefix match.
  EXPECT_EQ(FindPattern(Bytes("abc"), 3, Bytes("abcd"), 4), nullptr);
  // A pattern at the very end is found.
  EXPECT_EQ(FindPattern(Bytes(buf), len, Bytes("</RSP>"), 6), Bytes(buf) + len - 6);
  // Capitals in the pattern find small letters in the buffer.
  EXPECT_EQ(FindPattern(Bytes(buf), len, Bytes("<RSP="), 5), Bytes(buf));
  // Only the length given is searched: the tag right behind it is not found.
  EXPECT_EQ(FindPattern(Bytes(buf), len - 1, Bytes("</RSP>"), 6), nullptr);
  // Bytes other than letters compare as they are, NUL included; '@' (0x40) is not '`' (0x60).
  const BYTE withNul[] = {'a', 0, 'b', '@'};
  const BYTE nulPat[] = {0, 'B'};
  EXPECT_EQ(FindPattern(withNul, 4, nulPat, 2), withNul + 1);
  EXPECT_EQ(FindPattern(withNul, 4, Bytes("`"), 1), nullptr);
  EXPECT_EQ(FindPattern(nullptr, 0, Bytes("a"), 1), nullptr);
}

TEST(ResponseReader, ReadsTheTagsOfAWellFormedResponse) {
  const std::string rsp =
      "<RSP=7>\n<SCMD=3>\n</SCMD>\n<STATUS=0>\n</STATUS><DATA>\nabc\n</DATA></RSP>";
  EXPECT_EQ(GetRspCode(rsp.data(), Len(rsp)), 7);
  EXPECT_EQ(GetSCmdCode(rsp.data(), Len(rsp)), 3);
  EXPECT_EQ(GetStatusCode(rsp.data(), Len(rsp)), 0);
  const char* data = nullptr;
  DWORD dataLen = 0;
  ASSERT_TRUE(GetDataFromRspBuff(rsp.data(), Len(rsp), &data, &dataLen));
  EXPECT_EQ(std::string(data, dataLen), "abc");
  EXPECT_TRUE(IsRspComplete(rsp.data(), Len(rsp)));
  EXPECT_FALSE(IsRspComplete(rsp.data(), Len(rsp) - 1));
}

TEST(ResponseReader, TagsIgnoreCaseAndNumbersReadLikeAtoi) {
  const std::string rsp = "<rsp= +4>\n<status=-2x>\n</status><data>\n\n</data></rsp>";
  EXPECT_EQ(GetRspCode(rsp.data(), Len(rsp)), 4);
  EXPECT_EQ(GetStatusCode(rsp.data(), Len(rsp)), -2);
  const char* data = nullptr;
  DWORD dataLen = 99;
  ASSERT_TRUE(GetDataFromRspBuff(rsp.data(), Len(rsp), &data, &dataLen));
  EXPECT_EQ(dataLen, 0u);
  const std::string noDigits = "<RSP=>\n<STATUS=>\n</STATUS></RSP>";
  EXPECT_EQ(GetRspCode(noDigits.data(), Len(noDigits)), 0);
  EXPECT_EQ(GetStatusCode(noDigits.data(), Len(noDigits)), 0);
  const std::string huge = "<RSP=99999999999999999999>";
  EXPECT_EQ(GetRspCode(huge.data(), Len(huge)), 2147483647);
}

TEST(ResponseReader, BrokenFormsReadAsAbsentWithoutLeavingTheBytes) {
  // Each case ends where a careless reader would run on past the received bytes.
  EXPECT_EQ(Rsp("<RSP"), -1);
  EXPECT_EQ(Rsp("<RSP=4"), -1);
  EXPECT_EQ(Rsp("<CMD=4>"), -1);
  EXPECT_EQ(GetRspCode(nullptr, 0), -1);
  EXPECT_EQ(Rsp("<RSP=" + std::string(25, '1') + ">"), -1);
  EXPECT_EQ(Rsp("<RSP=" + std::string(23, ' ') + "1>"), 1);

  EXPECT_EQ(Status("<RSP=1>\n<STATUS=0>\n"), -1);
  EXPECT_EQ(Status("</STATUS><STATUS=0"), -1);
  EXPECT_EQ(SCmd("</SCMD><SCMD=3"), -1);
  EXPECT_EQ(SCmd("<SCMD=3>"), -1);

  EXPECT_FALSE(HasData("<DATA>\nabc</RSP>"));
  EXPECT_FALSE(HasData("<DATA>\nabc\n</DATA"));
  // The closing tag must follow the opening one: "<DATA>\n</DATA>" shares its line feed and holds no DATA.
  EXPECT_FALSE(HasData("<DATA>\n</DATA>"));
  EXPECT_FALSE(HasData("\n</DATA><DATA>\n"));
}

TEST(UsbVendors, TableHoldsTheListedVendors) {
  ASSERT_EQ(g_UsbVendorCount, 888u);
  EXPECT_EQ(g_UsbVendorTable[0].VendorId, 0x03E8);
  EXPECT_EQ(g_UsbVendorTable[g_UsbVendorCount - 1].VendorId, 0x8086);
  EXPECT_EQ(g_UsbVendorTable[g_UsbVendorCount].VendorId, 0);
  EXPECT_EQ(g_UsbVendorTable[g_UsbVendorCount].Name, nullptr);
  for (size_t i = 1; i < g_UsbVendorCount; ++i) {
    ASSERT_LT(g_UsbVendorTable[i - 1].VendorId, g_UsbVendorTable[i].VendorId) << i;
    ASSERT_NE(g_UsbVendorTable[i].Name, nullptr);
  }
  const struct {
    WORD vid;
    const char* name;
  } known[] = {
      {0x03E8, "EndPoints Inc."},           {0x03E9, "Thesys Microelectronics"},
      {0x03EB, "Atmel Corporation"},        {0x03F0, "Hewlett Packard"},
      {0x5543, "UC-Logic Technology Corp."}, {0x55AA, "OnSpec Electronic Inc."},
      {0x636C, "CoreLogic, Inc."},          {0x6A75, "Shanghai Jujo Electronics Co., Ltd."},
      {0x8086, "Intel Corporation"},
  };
  for (const auto& vendor : known) {
    const char* name = GetUsbVendorName(vendor.vid);
    ASSERT_NE(name, nullptr) << vendor.vid;
    EXPECT_STREQ(name, vendor.name);
  }
  EXPECT_EQ(GetUsbVendorName(0), nullptr);
  EXPECT_EQ(GetUsbVendorName(0xFFFF), nullptr);
  EXPECT_EQ(GetUsbVendorName(0x03E7), nullptr);
}

}  // namespace
