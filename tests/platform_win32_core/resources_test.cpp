// The resource registry: Windows layouts read back through the Win32 calls.
#include <cstring>
#include <string>
#include <vector>

#include "admin/resources/AdminResources.h"
#include "testsupport/sysroot.h"
#include "win32/resources.h"
#include "win32/window_manager.h"
#include "win32/windows.h"

void RegisterSampleResources();

namespace {

using Bytes = std::vector<uint8_t>;

void Word(Bytes& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

// A string block (ids 16..31) holding "Pelko Admin" at id 17 and a text whose length runs past the end.
Bytes StringBlock(bool damaged) {
  Bytes block;
  for (int k = 0; k < 16; ++k) {
    std::string text = k == 1 ? "Pelko Admin" : "";
    Word(block, damaged && k == 2 ? 500 : static_cast<uint32_t>(text.size()));
    for (char c : text) Word(block, static_cast<uint8_t>(c));
  }
  return block;
}

// A version block as the resource compiler writes it, with one text.
Bytes Node(const std::u16string& key, bool text, const Bytes& value, uint32_t valueLength, const std::vector<Bytes>& kids) {
  Bytes node;
  Word(node, 0);
  Word(node, valueLength);
  Word(node, text);
  for (char16_t c : key) Word(node, c);
  Word(node, 0);
  while (node.size() % 4) node.push_back(0);
  node.insert(node.end(), value.begin(), value.end());
  for (auto& kid : kids) {
    while (node.size() % 4) node.push_back(0);
    node.insert(node.end(), kid.begin(), kid.end());
  }
  node[0] = static_cast<uint8_t>(node.size());
  node[1] = static_cast<uint8_t>(node.size() >> 8);
  return node;
}

class ResourcesTest : public tavrin::test::SysrootTest {};

TEST_F(ResourcesTest, StringsBitmapsAcceleratorsAndVersionsComeBackInTheirLayouts) {
  static const Bytes strings = StringBlock(false);
  static const Bytes damaged = StringBlock(true);
  // A 2 x 2 24-bit bottom-up DIB: red, green over blue, white.
  static Bytes bitmap = [] {
    BITMAPINFOHEADER header{sizeof(BITMAPINFOHEADER), 2, 2, 1, 24, 0, 0, 0, 0, 0, 0};
    const uint8_t rows[] = {0xFF, 0, 0, 0xFF, 0xFF, 0xFF, 0, 0,  // bottom row: blue, white, padding
                            0, 0, 0xFF, 0, 0xFF, 0, 0, 0};        // top row: red, green, padding
    Bytes out(sizeof header + sizeof rows);
    std::memcpy(out.data(), &header, sizeof header);
    std::memcpy(out.data() + sizeof header, rows, sizeof rows);
    return out;
  }();
  static Bytes accelerators = [] {
    Bytes out;
    Word(out, FVIRTKEY | FCONTROL);
    Word(out, 'N');
    Word(out, 100);
    Word(out, 0);
    Word(out, FVIRTKEY | 0x80);
    Word(out, VK_F1 + 5);
    Word(out, 101);
    Word(out, 0);
    return out;
  }();
  static Bytes version = [] {
    Bytes fixed(52, 0);
    uint32_t signature = 0xFEEF04BD, ms = 0x00020001;
    memcpy(fixed.data(), &signature, 4);
    memcpy(fixed.data() + 8, &ms, 4);
    Bytes text;
    for (char16_t c : std::u16string(u"2, 1, 0, 0")) Word(text, c);
    Word(text, 0);
    Bytes string = Node(u"FileVersion", true, text, 11, {});
    Bytes table = Node(u"040904B0", true, {}, 0, {string});
    Bytes info = Node(u"StringFileInfo", true, {}, 0, {table});
    return Node(u"VS_VERSION_INFO", false, fixed, 52, {info});
  }();
  static const tavrin::res::Entry entries[] = {
      {kRtString, 2, nullptr, strings.data(), strings.size()},
      {kRtString, 3, nullptr, damaged.data(), damaged.size()},
      {kRtBitmap, 130, nullptr, bitmap.data(), bitmap.size()},
      {kRtAccelerator, 128, nullptr, accelerators.data(), accelerators.size()},
      {kRtVersion, 1, nullptr, version.data(), version.size()},
      {kRtToolbar, 0, "NAMED", bitmap.data(), 4},
  };
  tavrin::res::Register(entries);
  tavrin::res::SetProgramFileName("Tested.exe");

  char text[64];
  EXPECT_EQ(LoadString(nullptr, 17, text, sizeof text), 11);
  EXPECT_STREQ(text, "Pelko Admin");
  EXPECT_EQ(LoadString(nullptr, 17, text, 6), 5) << "cut to the buffer";
  EXPECT_EQ(LoadString(nullptr, 16, text, sizeof text), 0);
  EXPECT_EQ(LoadString(nullptr, 34, text, sizeof text), 0) << "a length past the block's end is refused";

  HRSRC found = FindResource(nullptr, "#130", RT_BITMAP);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(SizeofResource(nullptr, found), bitmap.size());
  EXPECT_EQ(LockResource(LoadResource(nullptr, found)), bitmap.data());
  EXPECT_NE(FindResource(nullptr, "named", RT_TOOLBAR), nullptr);
  EXPECT_EQ(FindResource(nullptr, MAKEINTRESOURCE(131), RT_BITMAP), nullptr);

  HBITMAP loaded = LoadBitmap(nullptr, MAKEINTRESOURCE(130));
  ASSERT_NE(loaded, nullptr);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, loaded);
  EXPECT_EQ(GetPixel(dc, 0, 0), RGB(255, 0, 0)) << "the last row of the data is the top";
  EXPECT_EQ(GetPixel(dc, 0, 1), RGB(0, 0, 255));
  SelectObject(dc, old);
  DeleteDC(dc);
  DeleteObject(loaded);

  HACCEL table = LoadAccelerators(nullptr, MAKEINTRESOURCE(128));
  ASSERT_NE(table, nullptr);
  MSG key{};
  key.hwnd = nullptr;
  key.message = WM_KEYDOWN;
  key.wParam = VK_F1 + 5;
  EXPECT_EQ(TranslateAccelerator(nullptr, table, &key), 0) << "no window, no command";
  EXPECT_TRUE(DestroyAcceleratorTable(table));
  EXPECT_FALSE(DestroyAcceleratorTable(table));

  DWORD handle = 7;
  DWORD size = GetFileVersionInfoSize("C:\\Program Files\\Tavrin\\TESTED.EXE", &handle);
  ASSERT_GT(size, 0u);
  EXPECT_EQ(handle, 0u);
  EXPECT_EQ(GetFileVersionInfoSize("Other.exe", nullptr), 0u);
  std::vector<uint8_t> block(size);
  ASSERT_TRUE(GetFileVersionInfo("Tested.exe", 0, size, block.data()));
  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValue(block.data(), "\\StringFileInfo\\040904b0\\FileVersion", &value, &length));
  EXPECT_STREQ(static_cast<const char*>(value), "2, 1, 0, 0");
  ASSERT_TRUE(VerQueryValue(block.data(), "\\", &value, &length));
  EXPECT_EQ(length, sizeof(VS_FIXEDFILEINFO));
  EXPECT_EQ(static_cast<VS_FIXEDFILEINFO*>(value)->dwFileVersionMS, 0x00020001u);
  EXPECT_FALSE(VerQueryValue(block.data(), "\\StringFileInfo\\040904B0\\CompanyName", &value, &length));
}

TEST_F(ResourcesTest, AcceleratorsTurnKeysIntoCommands) {
  static Bytes accelerators = [] {
    Bytes out;
    Word(out, FVIRTKEY | FCONTROL | 0x80);
    Word(out, 'N');
    Word(out, 200);
    Word(out, 0);
    return out;
  }();
  static const tavrin::res::Entry entries[] = {{kRtAccelerator, 129, nullptr, accelerators.data(), accelerators.size()}};
  tavrin::res::Register(entries);
  static WPARAM command = 0;
  tavrin::win::WindowSpec spec;
  spec.proc = [](HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
    if (message == WM_COMMAND) command = wParam;
    return DefWindowProc(hwnd, message, wParam, lParam);
  };
  HWND hwnd = tavrin::win::CreateWindowObject(spec);
  HACCEL table = LoadAccelerators(nullptr, MAKEINTRESOURCE(129));
  MSG key{hwnd, WM_KEYDOWN, 'N', 0, 0, {}};
  EXPECT_EQ(TranslateAccelerator(hwnd, table, &key), 0) << "Control is not held";
  SetForegroundWindow(hwnd);
  tavrin::win::InjectKey(VK_CONTROL, true);
  tavrin::win::InjectKey('N', true);
  MSG msg;
  int translated = 0;
  while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_KEYDOWN && TranslateAccelerator(hwnd, table, &msg)) ++translated;
    else DispatchMessage(&msg);
  }
  tavrin::win::InjectKey('N', false);
  tavrin::win::InjectKey(VK_CONTROL, false);
  while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessage(&msg);
  EXPECT_EQ(translated, 1);
  EXPECT_EQ(command, MAKEWPARAM(200, 1));
  DestroyAcceleratorTable(table);
  DestroyWindow(hwnd);
}

TEST_F(ResourcesTest, GeneratedTableOfTheAdminProgramReadsBack) {
  RegisterAdminResources();
  HICON icon = LoadIcon(nullptr, MAKEINTRESOURCE(128));
  ASSERT_NE(icon, nullptr);
  ICONINFO info{};
  ASSERT_TRUE(GetIconInfo(icon, &info));
  BITMAP bitmap{};
  GetObject(info.hbmColor, sizeof bitmap, &bitmap);
  EXPECT_EQ(bitmap.bmWidth, 32);
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  DestroyIcon(icon);
  HICON small = static_cast<HICON>(LoadImage(nullptr, MAKEINTRESOURCE(128), IMAGE_ICON, 16, 16, 0));
  ASSERT_NE(small, nullptr);
  ASSERT_TRUE(GetIconInfo(small, &info));
  GetObject(info.hbmColor, sizeof bitmap, &bitmap);
  EXPECT_EQ(bitmap.bmWidth, 16);
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  DestroyIcon(small);

  HBITMAP strip = LoadBitmap(nullptr, MAKEINTRESOURCE(130));
  ASSERT_NE(strip, nullptr);
  GetObject(strip, sizeof bitmap, &bitmap);
  EXPECT_EQ(bitmap.bmWidth, 400);
  EXPECT_EQ(bitmap.bmHeight, 20);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, strip);
  EXPECT_EQ(GetPixel(dc, 0, 0), RGB(192, 192, 192)) << "the mask colour around each pictogram";
  EXPECT_NE(GetPixel(dc, 10, 10), RGB(192, 192, 192));
  SelectObject(dc, old);
  DeleteDC(dc);
  DeleteObject(strip);

  HRSRC menu = FindResource(nullptr, MAKEINTRESOURCE(128), RT_MENU);
  ASSERT_NE(menu, nullptr);
  auto* bytes = static_cast<const uint8_t*>(LockResource(LoadResource(nullptr, menu)));
  EXPECT_EQ(bytes[4], 0x10) << "the first item is a pop-up";
  EXPECT_EQ(bytes[6], '&');
  EXPECT_EQ(bytes[8], 'F');

  DWORD size = GetFileVersionInfoSize("TavrinAdmin.exe", nullptr);
  std::vector<uint8_t> block(size);
  ASSERT_TRUE(GetFileVersionInfo("TavrinAdmin.exe", 0, size, block.data()));
  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValue(block.data(), "\\StringFileInfo\\040904B0\\ProductName", &value, &length));
  EXPECT_STREQ(static_cast<const char*>(value), "Pelko Admin");
}

// Reads what the resource compiler wrote for a dialog template, field by field.
TEST_F(ResourcesTest, DialogTemplatesFollowTheTemplateLayout) {
  RegisterSampleResources();
  char text[16];
  EXPECT_EQ(LoadString(nullptr, 5, text, sizeof text), 4);
  HRSRC found = FindResource(nullptr, MAKEINTRESOURCE(190), RT_DIALOG);
  ASSERT_NE(found, nullptr);
  auto* data = static_cast<const uint8_t*>(LockResource(LoadResource(nullptr, found)));
  const size_t size = SizeofResource(nullptr, found);
  size_t at = 0;
  auto word = [&] {
    EXPECT_LE(at + 2, size);
    uint16_t v;
    memcpy(&v, data + at, 2);
    at += 2;
    return v;
  };
  auto dword = [&] { uint32_t low = word(); return low | (static_cast<uint32_t>(word()) << 16); };
  auto text16 = [&] {
    std::string out;
    for (uint16_t c = word(); c; c = word()) out += static_cast<char>(c);
    return out;
  };
  uint32_t style = dword();
  EXPECT_EQ(style & 0x40u, 0x40u) << "DS_SETFONT";
  EXPECT_EQ(style & WS_POPUP, WS_POPUP);
  EXPECT_EQ(dword(), 0u);
  EXPECT_EQ(word(), 2) << "two controls";
  EXPECT_EQ(word(), 0);
  EXPECT_EQ(word(), 0);
  EXPECT_EQ(word(), 200);
  EXPECT_EQ(word(), 100);
  EXPECT_EQ(word(), 0) << "no menu";
  EXPECT_EQ(word(), 0) << "the standard class";
  EXPECT_EQ(text16(), "Select File");
  EXPECT_EQ(word(), 8);
  EXPECT_EQ(text16(), "Tahoma");
  at = (at + 3) & ~size_t{3};
  EXPECT_EQ(dword(), WS_CHILD | WS_VISIBLE | 0x00010001u);
  EXPECT_EQ(dword(), 0u);
  EXPECT_EQ(word(), 10);
  EXPECT_EQ(word(), 70);
  EXPECT_EQ(word(), 50);
  EXPECT_EQ(word(), 14);
  EXPECT_EQ(word(), 1);
  EXPECT_EQ(word(), 0xFFFF);
  EXPECT_EQ(word(), 0x80) << "Button";
  EXPECT_EQ(text16(), "&Transfer");
  EXPECT_EQ(word(), 0);
  at = (at + 3) & ~size_t{3};
  EXPECT_EQ(dword(), WS_CHILD | WS_VISIBLE);
  at += 4 + 8;
  EXPECT_EQ(word(), 1001);
  EXPECT_EQ(text16(), "SysListView32");
  EXPECT_EQ(text16(), "");
  EXPECT_EQ(word(), 0);
  EXPECT_EQ(at, size);
}

}  // namespace
