// The IP address control: its address messages, typing into its fields, and what it tells its parent.
#include "comctl_test_util.h"

namespace {

using namespace comctl_test;

struct IpFixture : ::testing::Test {
  Host host;
  CIPAddressCtrl ip;
  std::vector<std::pair<int, int>> changes;  // (field, value) of IPN_FIELDCHANGED
  void SetUp() override {
    ASSERT_TRUE(MakeHost(host));
    ASSERT_TRUE(ip.Create(WS_CHILD | WS_VISIBLE | WS_TABSTOP, CRect(10, 10, 170, 34), &host, 1041));
    host.onNotify = [this](NMHDR* header) -> LRESULT {
      if (header->code == IPN_FIELDCHANGED) {
        auto* note = reinterpret_cast<NMIPADDRESS*>(header);
        changes.emplace_back(note->iField, note->iValue);
      }
      return 0;
    };
  }
  void Type(const char* text) {
    for (const char* p = text; *p; ++p) ip.SendMessage(WM_CHAR, static_cast<WPARAM>(*p), 0);
  }
  CString Text() {
    CString text;
    ip.GetWindowText(text);
    return text;
  }
};

TEST_F(IpFixture, AddressMessages) {
  EXPECT_TRUE(ip.IsBlank());
  DWORD address = 1;
  EXPECT_EQ(ip.GetAddress(address), 0);
  EXPECT_EQ(address, 0u);
  ip.SetAddress(192, 168, 1, 20);
  EXPECT_FALSE(ip.IsBlank());
  BYTE a = 0, b = 0, c = 0, d = 0;
  EXPECT_EQ(ip.GetAddress(a, b, c, d), 4);
  EXPECT_EQ(a, 192);
  EXPECT_EQ(d, 20);
  EXPECT_EQ(Text(), CString("192.168.1.20"));
  ip.ClearAddress();
  EXPECT_TRUE(ip.IsBlank());
  EXPECT_EQ(Text(), CString("..."));
  ip.SendMessage(WM_SETTEXT, 0, reinterpret_cast<LPARAM>("10.0.300"));
  EXPECT_EQ(ip.GetAddress(address), 3) << "a missing field stays blank";
  EXPECT_EQ(address, MAKEIPADDRESS(10, 0, 255, 0)) << "a value over 255 is kept at 255";
  EXPECT_FALSE(ip.SendMessage(IPM_SETRANGE, 4, MAKEIPRANGE(0, 10)));
  EXPECT_FALSE(ip.SendMessage(IPM_SETRANGE, 0, MAKEIPRANGE(20, 10)));
  ip.SetFieldRange(0, 1, 223);
  ip.SetAddress(MAKEIPADDRESS(0, 1, 2, 3));
  ip.GetAddress(address);
  EXPECT_EQ(FIRST_IPADDRESS(address), 1) << "set into the field's range";
  EXPECT_GT(host.CountCommands(1041, EN_CHANGE_IP), 0);
  // A dialog fills and reads the control as text.
  ip.SetWindowText("172.16.0.9");
  EXPECT_EQ(ip.GetAddress(address), 4);
  EXPECT_EQ(address, MAKEIPADDRESS(172, 16, 0, 9));
  ip.SetWindowText("");
  EXPECT_TRUE(ip.IsBlank());
}

TEST_F(IpFixture, TypingMovesOnAndClamps) {
  ip.SetFieldFocus(0);
  EXPECT_EQ(::GetFocus(), ip.m_hWnd);
  Type("192");  // the third digit moves on
  Type("168.");  // so does a dot after a full field (the field is already left)
  Type("1.");
  Type("999");
  DWORD address = 0;
  EXPECT_EQ(ip.GetAddress(address), 4);
  EXPECT_EQ(address, MAKEIPADDRESS(192, 168, 1, 255)) << "typed past 255: kept at 255";
  ASSERT_GE(changes.size(), 3u);
  EXPECT_EQ(changes[0], std::make_pair(0, 192));
  EXPECT_EQ(changes[1], std::make_pair(1, 168));
  EXPECT_EQ(changes[2], std::make_pair(2, 1));
  // Backspace empties the field, then goes back to the one before.
  ip.SendMessage(WM_CHAR, '\b', 0);
  ip.SendMessage(WM_CHAR, '\b', 0);
  ip.SendMessage(WM_CHAR, '\b', 0);
  ip.SendMessage(WM_CHAR, '\b', 0);
  ip.SendMessage(WM_CHAR, '\b', 0);
  Type("7");
  EXPECT_EQ(Text(), CString("192.168.7."));
  ip.SendMessage(WM_KEYDOWN, VK_HOME, 0);
  ip.SendMessage(WM_KEYDOWN, VK_DELETE, 0);
  EXPECT_EQ(ip.GetAddress(address), 2);
  Type("a-");
  EXPECT_EQ(Text(), CString(".168.7.")) << "other characters are refused";
  Type(".");
  EXPECT_EQ(Text(), CString(".168.7.")) << "a dot in an empty field stays";
  // The parent may change a field's value as it is left.
  host.onNotify = [](NMHDR* header) -> LRESULT {
    if (header->code == IPN_FIELDCHANGED) reinterpret_cast<NMIPADDRESS*>(header)->iValue = 10;
    return 0;
  };
  Type("5");
  ip.SendMessage(WM_KEYDOWN, VK_RIGHT, 0);
  EXPECT_EQ(Text(), CString("10.168.7."));
}

TEST_F(IpFixture, DrawsFieldsDotsAndTheCaret) {
  ip.SetAddress(10, 20, 30, 40);
  auto image = Capture(ip.m_hWnd);
  EXPECT_EQ(Pixel(image, 5, 20), GetSysColor(COLOR_WINDOW));
  EXPECT_EQ(Pixel(image, 0, 0), GetSysColor(COLOR_3DSHADOW)) << "sunken edge";
  auto has = [&](const tavrin::draw::Surface& s, int x0, int x1, COLORREF colour) {
    for (int x = x0; x < x1; ++x)
      for (int y = 2; y < 22; ++y)
        if (Pixel(s, x, y) == colour) return true;
    return false;
  };
  EXPECT_TRUE(has(image, 2, 40, GetSysColor(COLOR_WINDOWTEXT))) << "the first field's digits";
  ip.SetFieldFocus(1);
  image = Capture(ip.m_hWnd);
  EXPECT_TRUE(has(image, 40, 80, GetSysColor(COLOR_HIGHLIGHT))) << "the entered field is selected";
  ip.EnableWindow(FALSE);
  image = Capture(ip.m_hWnd);
  EXPECT_EQ(Pixel(image, 5, 20), GetSysColor(COLOR_BTNFACE));
  ExpectNoGdiGrowth(ip.m_hWnd);
}

}  // namespace
