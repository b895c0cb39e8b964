// The AVI reader (round trips, and clips that lie about their sizes) and the animation control over it.
#include <cstring>
#include <filesystem>
#include <fstream>

#include "admin/resources/AdminResources.h"
#include "comctl_test_util.h"
#include "testsupport/sysroot.h"
#include "win32/avi.h"
#include "win32/resources.h"

namespace {

using namespace comctl_test;
namespace avi = tavrin::avi;

constexpr int kW = 16, kH = 12;
constexpr uint32_t kKey = 0xFF00FF;
const uint32_t kColours[] = {0xC00000, 0x00A000, 0x0000E0};

// Three frames, each one colour with the key colour in its top-left corner.
std::vector<std::vector<uint32_t>> Frames() {
  std::vector<std::vector<uint32_t>> frames;
  for (uint32_t colour : kColours) {
    std::vector<uint32_t> f(kW * kH, colour);
    f[0] = kKey;
    f[kW * kH - 1] = 0x101010;  // bottom-right differs, to catch rows read upside down
    frames.push_back(f);
  }
  return frames;
}

void Put32(std::vector<uint8_t>& d, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) d[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
size_t Find(const std::vector<uint8_t>& d, const char* id) {
  for (size_t i = 0; i + 4 <= d.size(); ++i)
    if (std::memcmp(d.data() + i, id, 4) == 0) return i;
  return std::string::npos;
}

// Renames the first chunk with id `from` to `to`; false when there is none.
bool RenameChunk(std::vector<uint8_t>& d, const char* from, const char* to) {
  const size_t at = Find(d, from);
  if (at == std::string::npos) return false;
  std::memcpy(d.data() + at, to, 4);
  return true;
}

TEST(AviReader, RoundTripsAtEveryDepth) {
  for (int bits : {8, 24, 32}) {
    auto bytes = avi::Build(kW, kH, 40000, Frames(), bits);
    ASSERT_FALSE(bytes.empty()) << bits;
    avi::Clip clip;
    std::string why;
    ASSERT_TRUE(avi::Parse(bytes, clip, &why)) << bits << " " << why;
    EXPECT_EQ(clip.width, kW);
    EXPECT_EQ(clip.height, kH);
    EXPECT_EQ(clip.bitCount, bits);
    EXPECT_EQ(clip.microSecPerFrame, 40000u);
    ASSERT_EQ(clip.frames.size(), 3u);
    std::vector<uint32_t> pixels;
    for (size_t i = 0; i < 3; ++i) {
      ASSERT_TRUE(avi::DecodeFrame(bytes, clip, i, pixels));
      EXPECT_EQ(pixels, Frames()[i]) << bits << " frame " << i;
    }
    EXPECT_FALSE(avi::DecodeFrame(bytes, clip, 3, pixels));
  }
  std::vector<std::vector<uint32_t>> many(1, std::vector<uint32_t>(300));
  for (size_t i = 0; i < 300; ++i) many[0][i] = static_cast<uint32_t>(i);
  EXPECT_TRUE(avi::Build(300, 1, 1000, many, 8).empty()) << "more than 256 colours have no palette";
}

TEST(AviReader, RefusesTruncatedAndLyingClips) {
  const auto good = avi::Build(kW, kH, 40000, Frames(), 24);
  avi::Clip clip;
  for (size_t cut : {size_t{0}, size_t{11}, size_t{60}, good.size() / 2, good.size() - 1}) {
    std::vector<uint8_t> part(good.begin(), good.begin() + static_cast<ptrdiff_t>(cut));
    EXPECT_FALSE(avi::Parse(part, clip)) << "cut at " << cut;
  }
  auto lie = [&](const char* chunk, uint32_t size) {
    auto bytes = good;
    size_t at = Find(bytes, chunk);
    EXPECT_NE(at, std::string::npos) << chunk;
    Put32(bytes, at + 4, size);
    return bytes;
  };
  std::string why;
  EXPECT_FALSE(avi::Parse(lie("RIFF", 0x7FFFFFF0), clip, &why));
  EXPECT_FALSE(avi::Parse(lie("avih", 0xFFFFFFF0), clip, &why)) << "a chunk past its list";
  EXPECT_FALSE(avi::Parse(lie("strf", 4), clip, &why)) << "a format too short";
  EXPECT_FALSE(avi::Parse(lie("00db", 10), clip, &why)) << "a frame cut short (its rest is no chunk)";
  EXPECT_FALSE(avi::Parse(lie("00db", 0xFFFFFF00), clip, &why)) << "a frame past the frame list";
  // A format that lies about the picture.
  auto field = [&](size_t offset, uint32_t value) {
    auto bytes = good;
    Put32(bytes, Find(bytes, "strf") + 8 + offset, value);
    return bytes;
  };
  EXPECT_FALSE(avi::Parse(field(4, 0), clip));                 // width 0
  EXPECT_FALSE(avi::Parse(field(4, 1u << 20), clip));          // width beyond the bound
  EXPECT_FALSE(avi::Parse(field(8, 0x80000000u), clip));       // height beyond the bound
  EXPECT_FALSE(avi::Parse(field(16, 1), clip));                // compressed
  EXPECT_FALSE(avi::Parse(field(8, kH + 1), clip, &why));      // taller than its frames
  EXPECT_EQ(why, "frame shorter than its rows");
  auto eight = avi::Build(kW, kH, 40000, Frames(), 8);
  Put32(eight, Find(eight, "strf") + 8 + 32, 100000);          // a palette bigger than 256
  EXPECT_FALSE(avi::Parse(eight, clip));
  auto noFrames = good;
  for (int frame = 0; frame < 3; ++frame) ASSERT_TRUE(RenameChunk(noFrames, "00db", "01wb")) << frame;
  EXPECT_FALSE(avi::Parse(noFrames, clip, &why));
  EXPECT_EQ(why, "no frames");
}

struct AnimateFixture : tavrin::test::SysrootTest {
  Host host;
  CAnimateCtrl anim;
  std::vector<uint8_t> clipBytes = avi::Build(kW, kH, 5000, Frames(), 24);
  void SetUp() override {
    SysrootTest::SetUp();
    static std::vector<uint8_t> stored;
    stored = clipBytes;
    const tavrin::res::Entry entry{kRtNamedAvi, 306, nullptr, stored.data(), stored.size()};
    tavrin::res::Register(std::span<const tavrin::res::Entry>(&entry, 1));
    ASSERT_TRUE(MakeHost(host));
  }
  bool Playing() { return anim.IsPlaying() != FALSE; }
};

TEST_F(AnimateFixture, PlaysAResourceClipFrameByFrame) {
  ASSERT_TRUE(anim.Create(WS_CHILD | WS_VISIBLE, CRect(5, 5, 100, 100), &host, 1063));
  ASSERT_TRUE(anim.Open(306));
  CRect rc;
  anim.GetClientRect(&rc);
  EXPECT_EQ(rc.Width(), kW) << "the control takes the clip's size";
  EXPECT_EQ(rc.Height(), kH);
  auto image = Capture(anim.m_hWnd);
  EXPECT_EQ(Pixel(image, 5, 5), RGB(0xC0, 0, 0)) << "frame 0 shows at once";
  EXPECT_EQ(Pixel(image, kW - 1, kH - 1), RGB(0x10, 0x10, 0x10));
  EXPECT_FALSE(anim.Play(0, 3, 1)) << "no frame 3";
  ASSERT_TRUE(anim.Play(0, 0xFFFF, 1));
  EXPECT_TRUE(Playing());
  EXPECT_EQ(host.CountCommands(1063, ACN_START), 1);
  ASSERT_TRUE(RunUntil([&] { return !Playing(); }));
  EXPECT_EQ(host.CountCommands(1063, ACN_STOP), 1);
  image = Capture(anim.m_hWnd);
  EXPECT_EQ(Pixel(image, 5, 5), RGB(0, 0, 0xE0)) << "the last frame stays";
  ASSERT_TRUE(anim.Play(1, 1, 1));
  EXPECT_FALSE(Playing()) << "one frame is shown, not played";
  EXPECT_EQ(Pixel(Capture(anim.m_hWnd), 5, 5), RGB(0, 0xA0, 0));
  // Without end until stopped, as the wait window plays it.
  ASSERT_TRUE(anim.Play(0, 0xFFFF, static_cast<UINT>(-1)));
  int seen = 0;
  COLORREF last = 0;
  ASSERT_TRUE(RunUntil([&] {
    COLORREF now = Pixel(Capture(anim.m_hWnd), 5, 5);
    if (now != last) ++seen, last = now;
    return seen > 4;  // went round at least once
  }));
  EXPECT_TRUE(Playing());
  EXPECT_TRUE(anim.Stop());
  EXPECT_FALSE(Playing());
  EXPECT_EQ(host.CountCommands(1063, ACN_STOP), 2);
  ExpectNoGdiGrowth(anim.m_hWnd);
  const size_t before = tavrin::gdi::LiveObjectCount();
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(anim.Open(306));
    anim.Close();
  }
  EXPECT_EQ(tavrin::gdi::LiveObjectCount(), before - 1) << "closing frees the frame's bitmap";
}

TEST_F(AnimateFixture, CentredTransparentAndFromAFile) {
  HBRUSH back = CreateSolidBrush(RGB(0xF7, 0xFF, 0xFF));
  host.ctlColor = back;
  ASSERT_TRUE(anim.Create(WS_CHILD | WS_VISIBLE | ACS_CENTER | ACS_TRANSPARENT, CRect(0, 0, 60, 40), &host, 7));
  const auto path = root() / "C" / "clip.avi";
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(clipBytes.data()),
                                               static_cast<std::streamsize>(clipBytes.size()));
  ASSERT_TRUE(anim.Open("C:\\clip.avi"));
  CRect rc;
  anim.GetClientRect(&rc);
  EXPECT_EQ(rc.Width(), 60) << "a centred clip leaves the size";
  auto image = Capture(anim.m_hWnd);
  const int x = (60 - kW) / 2, y = (40 - kH) / 2;
  EXPECT_EQ(Pixel(image, x + 3, y + 3), RGB(0xC0, 0, 0));
  EXPECT_EQ(Pixel(image, x, y), RGB(0xF7, 0xFF, 0xFF)) << "the key colour shows the parent's background";
  EXPECT_EQ(Pixel(image, 1, 1), RGB(0xF7, 0xFF, 0xFF));
  std::ofstream(root() / "C" / "bad.avi", std::ios::binary).write("RIFF\xff\xff\xff\x7f" "AVI ", 12);
  EXPECT_FALSE(anim.Open("C:\\bad.avi"));
  EXPECT_FALSE(anim.Open("C:\\missing.avi"));
  EXPECT_FALSE(anim.Play(0, 0xFFFF, 1)) << "nothing open after a failed open";
  anim.DestroyWindow();
  DeleteObject(back);
}

}  // namespace


namespace {

TEST(ProgramClip, TheWaitWindowClipIsAnUncompressedSpinner) {
  RegisterAdminResources();
  HRSRC res = FindResource(nullptr, MAKEINTRESOURCE(306), "AVI");
  ASSERT_NE(res, nullptr);
  const auto* bytes = static_cast<const uint8_t*>(LockResource(LoadResource(nullptr, res)));
  std::span<const uint8_t> data(bytes, SizeofResource(nullptr, res));
  avi::Clip clip;
  ASSERT_TRUE(avi::Parse(data, clip));
  EXPECT_EQ(clip.frames.size(), 8u);
  EXPECT_EQ(clip.microSecPerFrame, 100000u);
  std::vector<uint32_t> first, second;
  ASSERT_TRUE(avi::DecodeFrame(data, clip, 0, first));
  ASSERT_TRUE(avi::DecodeFrame(data, clip, 1, second));
  EXPECT_NE(first, second) << "the lit dot moves on";
  EXPECT_EQ(first[0], 0xC0C0C0u) << "the corner is the grey a transparent control leaves out";
  Host host;
  ASSERT_TRUE(MakeHost(host));
  CAnimateCtrl anim;
  ASSERT_TRUE(anim.Create(WS_CHILD | WS_VISIBLE | ACS_TRANSPARENT, CRect(0, 0, 10, 10), &host, 1063));
  ASSERT_TRUE(anim.Open(306));
  EXPECT_TRUE(anim.Play(0, 0xFFFF, static_cast<UINT>(-1)));
  EXPECT_TRUE(anim.IsPlaying());
  anim.Stop();
}

}  // namespace
