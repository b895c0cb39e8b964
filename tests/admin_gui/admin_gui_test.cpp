// TavrinAdmin as a person uses it: the installed program starts on a private Xvfb display behind its
// tray icon, with two simulated servers on loopback and the kernel host with the bus driver. Everything
// is done with real X input (XTest) and read back through "tavrin-ctl windows", as another program sees
// it. A screenshot of each step is kept beside the test program when the test fails.
#include <gtest/gtest.h>
// Xlib's macros meet gtest's names: the X headers come after it, their clashing macros undone.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#undef None
#undef Bool
#undef Status
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "draw/png.h"
#include "draw/surface.h"
#include "testsupport/child_process.h"
#include "testsupport/eventually.h"
#include "testsupport/kernel_host_process.h"
#include "testsupport/sanitizers.h"
#include "testsupport/sysroot.h"
#include "testsupport/x_screen.h"
#include "testsupport/xvfb.h"
#include "win32/sysroot.h"
#include "zarnet/sim/simulator.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using tavrin::test::Eventually;

constexpr int kOffice = 91;  // 127.0.0.91: a printer (free) and a device another computer holds
constexpr int kLab = 92;     // 127.0.0.92: a keyboard
constexpr char kPrinterName[] = "Office LaserPrinter 1020";
// The splash goes within 2 s of showing; a sanitizer build makes the rest of the frame's making so slow
// that only its going is checked there.
constexpr bool kSplashTimed = !tavrin::test::kSanitized;

// One row of a list (or the panes of a status bar), its cells joined by "|", where it shows.
struct Row {
  std::string cells;
  int left = 0, top = 0, right = 0, bottom = 0;
};

// One window of "tavrin-ctl windows": its line's fields and the rows a list shows.
struct Window {
  int depth = 0;
  std::string handle, cls, text;
  long id = 0;
  int left = 0, top = 0, right = 0, bottom = 0;
  bool visible = false, enabled = false;
  int checked = -1;
  std::vector<Row> rows;
  int CentreY() const { return (top + bottom) / 2; }
};

std::string Field(const std::string& line, const std::string& key) {
  const std::string quoted = " " + key + "=\"";
  size_t at = line.find(quoted);
  if (at != std::string::npos) {
    at += quoted.size();
    return line.substr(at, line.find('"', at) - at);
  }
  at = line.find(" " + key + "=");
  if (at == std::string::npos) return "";
  at += key.size() + 2;
  return line.substr(at, line.find(' ', at) - at);
}

std::vector<Window> ParseWindows(const std::string& listing) {
  std::vector<Window> windows;
  std::istringstream in(listing);
  for (std::string line; std::getline(in, line);) {
    const size_t start = line.find_first_not_of(' ');
    if (start == std::string::npos) continue;
    if (line.compare(start, 5, "row=\"") == 0) {
      const std::string fields = " " + line.substr(start);
      Row row;
      row.cells = Field(fields, "row");
      sscanf(Field(fields.substr(fields.rfind("\" rect=") + 1), "rect").c_str(), "%d,%d,%d,%d", &row.left, &row.top,
             &row.right, &row.bottom);
      if (!windows.empty()) windows.back().rows.push_back(row);
      continue;
    }
    if (line.compare(start, 2, "0x") != 0) continue;
    Window w;
    w.depth = static_cast<int>(start) / 2;
    w.handle = line.substr(start, line.find(' ', start) - start);
    w.cls = Field(line, "class");
    w.text = Field(line, "text");
    w.id = atol(Field(line, "id").c_str());
    sscanf(Field(line, "rect").c_str(), "%d,%d,%d,%d", &w.left, &w.top, &w.right, &w.bottom);
    w.visible = Field(line, "visible") == "1";
    w.enabled = Field(line, "enabled") == "1";
    const std::string checked = Field(line, "checked");
    if (!checked.empty()) w.checked = atoi(checked.c_str());
    windows.push_back(w);
  }
  return windows;
}

class AdminGuiTest : public tavrin::test::SysrootTest {
 protected:
  void SetUp() override {
    SysrootTest::SetUp();
    const std::string xvfb = tavrin::test::XvfbServer::Find();
    if (xvfb.empty()) GTEST_SKIP() << "Xvfb is not installed: TavrinAdmin on X is not tested";
    ASSERT_TRUE(xvfb_.Start(xvfb));
    ASSERT_TRUE(Eventually([&] { return (x_ = tavrin::test::OpenXDisplay(xvfb_.name())) != nullptr; })) << "no Xvfb";

    // The product installed: parameters, and the program in the Windows directory (its About box reads
    // the version of that file).
    ASSERT_EQ(Ctl("install --trace-level 1 --refresh 1000 --stop-period 5000"), 0);
    const fs::path installed = tavrin::sysroot::MapPath("C:\\WINDOWS\\TavrinAdmin.exe");
    fs::copy_file(TAVRIN_ADMIN_PROGRAM, installed, fs::copy_options::overwrite_existing);
    program_ = installed.string();

    host_ = std::make_unique<tavrin::test::KernelHostProcess>(KERNEL_HOST_PROGRAM, root().string(),
                                                              std::vector<std::string>{});
    ASSERT_TRUE(host_->WaitReady(10000));

    const uint16_t listenPort = zarnet::sim::FreeLoopbackPort(SOCK_DGRAM);
    zarnet::sim::ServerOptions office = zarnet::sim::LoopbackServerOptions(kOffice, listenPort);
    zarnet::sim::Device printer;
    printer.port = 1;
    printer.device_class = 7;
    printer.subclass = 1;
    printer.protocol = 2;
    printer.vid = 0x03F0;
    printer.pid = 0x2B17;
    printer.rev = 0x0100;
    printer.product = kPrinterName;
    zarnet::sim::Device held;
    held.port = 2;
    held.device_class = 8;
    held.subclass = 6;
    held.protocol = 0x50;
    held.vid = 0x0781;
    held.pid = 0x5567;
    held.busy = true;
    held.client_ip = "127.0.0.200";
    held.product = "Cruzer Blade";
    office.devices = {printer, held};
    office_ = &sim_.AddServer(office);
    zarnet::sim::ServerOptions lab = zarnet::sim::LoopbackServerOptions(kLab, listenPort);
    zarnet::sim::Device keyboard;
    keyboard.port = 1;
    keyboard.device_class = 3;
    keyboard.subclass = 1;
    keyboard.protocol = 1;
    keyboard.vid = 0x046D;
    keyboard.pid = 0xC31C;
    keyboard.product = "USB Keyboard";
    lab.devices = {keyboard};
    lab.command_port = office_->command_port();  // one port for the commands of both
    lab.data_port = office_->data_port();
    sim_.AddServer(lab);
    std::string error;
    ASSERT_TRUE(sim_.Start(&error)) << error;
    network_ = "bind=127.0.0.1;devicelist=" + std::to_string(listenPort) + ";broadcast=127.0.0." +
               std::to_string(kOffice) + ";discovery=" + std::to_string(office_->command_port()) +
               ";command=" + std::to_string(office_->command_port()) + ";data=" + std::to_string(office_->data_port());
  }

  void TearDown() override {
    if (HasFailure()) KeepShots();
    DropShots();
    StopAdmin();
    sim_.Stop();
    host_.reset();
    if (x_) XCloseDisplay(x_);
    xvfb_.Stop();
    SysrootTest::TearDown();
  }

  // ---- the program ----

  void StartAdmin() {
    admin_ = tavrin::test::StartChild({program_}, tavrin::test::ChildSetup()
                                                      .Set("DISPLAY", xvfb_.name())
                                                      .Set("TAVRIN_DISPLAY", "x11")
                                                      .Set("TAVRIN_ADMIN_NET", network_)
                                                      .Unset("TAVRIN_MSGBOX_ANSWER"));
    ASSERT_GT(admin_, 0);
  }
  // The program's exit code once it ended within the time, else -1.
  int WaitAdmin(int ms) {
    if (admin_ <= 0) return -1;
    const std::optional<int> code = tavrin::test::WaitForExit(admin_, std::chrono::milliseconds(ms));
    if (!code) return -1;
    admin_ = -1;
    return *code;
  }
  void StopAdmin() {
    if (admin_ <= 0) return;
    kill(admin_, SIGKILL);
    waitpid(admin_, nullptr, 0);
    admin_ = -1;
  }

  static int Ctl(const std::string& arguments) {
    return tavrin::test::RunShell(std::string("exec '") + TAVRIN_CTL_PROGRAM + "' " + arguments + " >/dev/null 2>&1");
  }
  // The windows that the running program lists. A program too busy to answer within the listing's time
  // (a sanitizer build on a loaded machine) is left out of a listing, and its windows would look gone:
  // while it runs and has windows, it is asked again until it answers.
  std::vector<Window> Windows() const {
    std::string listing = Listing();
    if (listing.find("process ") == std::string::npos && AdminRuns() && HasWindows())
      Eventually([&] {
        listing = Listing();
        return listing.find("process ") != std::string::npos || !AdminRuns();
      });
    return ParseWindows(listing);
  }
  static std::string Listing() {
    std::string listing;
    tavrin::test::RunChild({TAVRIN_CTL_PROGRAM, "windows"},
                           tavrin::test::ChildSetup().Open(STDERR_FILENO, "/dev/null", O_WRONLY), &listing);
    return listing;
  }
  // Whether a process has published a top-level window (a record without an extension).
  static bool HasWindows() {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(tavrin::sysroot::RunDir() / "windows", ec))
      if (entry.path().extension().empty()) return true;
    return false;
  }
  // Whether the program runs (an ended one is left for WaitAdmin to collect).
  bool AdminRuns() const {
    if (admin_ <= 0) return false;
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(admin_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
  }
  // The first window that matches, looked for until the time is up.
  bool FindWindow(const std::function<bool(const Window&)>& match, Window* found, int ms = 10000) {
    return Eventually(
        [&] {
          for (const Window& w : Windows())
            if (match(w)) {
              if (found) *found = w;
              return true;
            }
          return false;
        },
        std::chrono::milliseconds(ms));
  }
  static bool TopLevel(const Window& w, const char* text) { return w.depth == 0 && w.text == text; }
  Window Frame() {
    Window frame;
    FindWindow([](const Window& w) { return TopLevel(w, "Pelko Admin"); }, &frame);
    return frame;
  }
  // The tray icon's window, where it shows.
  bool TrayIcon(Window* found, int ms = 10000) {
    return FindWindow([](const Window& w) { return w.depth == 0 && w.cls == "TavrinTrayIcon" && w.visible; }, found,
                      ms);
  }
  // Shows the hidden frame with a double click on the tray icon and waits until it shows.
  void ShowFrame() {
    Window tray;
    ASSERT_TRUE(TrayIcon(&tray, 30000)) << "no tray icon";  // made with the frame, after the splash
    Click((tray.left + tray.right) / 2, tray.CentreY(), 1, 2);
    ASSERT_TRUE(FindWindow([](const Window& w) { return TopLevel(w, "Pelko Admin") && w.visible; }, nullptr));
  }
  // Whether a shown top-level window has a child showing `text` (a message box's text).
  bool BoxShows(const std::string& text) {
    bool inShownBox = false;
    for (const Window& w : Windows()) {
      if (w.depth == 0) inShownBox = w.cls == "#32770" && w.visible;
      else if (inShownBox && w.text == text) return true;
    }
    return false;
  }
  // The status bar's panes, joined by "|".
  std::string StatusPanes() {
    for (const Window& w : Windows())
      if (w.cls == "msctls_statusbar32" && !w.rows.empty()) return w.rows[0].cells;
    return "";
  }
  // Whether a window of that size is mapped on the screen.
  bool OnScreen(int width, int height) {
    ::Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(x_, DefaultRootWindow(x_), &root, &parent, &children, &count)) return false;
    bool found = false;
    for (unsigned i = 0; i < count && !found; ++i) {
      XWindowAttributes attributes{};
      found = XGetWindowAttributes(x_, children[i], &attributes) && attributes.map_state == IsViewable &&
              attributes.width == width && attributes.height == height;
    }
    if (children) XFree(children);
    return found;
  }

  // ---- real input ----

  void Move(int x, int y) {
    XTestFakeMotionEvent(x_, -1, x, y, 0);
    XFlush(x_);
  }
  void Click(int x, int y, unsigned button = 1, int count = 1) {
    Move(x, y);
    for (int i = 0; i < count; ++i) {
      XTestFakeButtonEvent(x_, button, True, 0);
      XTestFakeButtonEvent(x_, button, False, 0);
    }
    XFlush(x_);
  }
  void Key(KeySym symbol, KeySym modifier = 0) {
    const KeyCode code = XKeysymToKeycode(x_, symbol);
    const KeyCode held = modifier ? XKeysymToKeycode(x_, modifier) : 0;
    if (held) XTestFakeKeyEvent(x_, held, True, 0);
    XTestFakeKeyEvent(x_, code, True, 0);
    XTestFakeKeyEvent(x_, code, False, 0);
    if (held) XTestFakeKeyEvent(x_, held, False, 0);
    XFlush(x_);
  }

  // Device Mapping > Start Device Mapping, from the keyboard, on the shown frame.
  void StartMappingFromTheMenu() {
    Window status;
    ASSERT_TRUE(FindWindow([](const Window& w) { return w.cls == "msctls_statusbar32" && w.visible; }, &status));
    Click(status.left + 10, status.CentreY());
    Key(XK_d, XK_Alt_L);
    Key(XK_s);
  }
  // Device Mapping > Stop Device Mapping, from the keyboard, until its question shows.
  static constexpr char kStopQuestion[] = "Stopping the Device Mapping functionality. Do you want to continue?";
  void StopMappingFromTheMenu() {
    Key(XK_d, XK_Alt_L);
    Key(XK_o);
    ASSERT_TRUE(Eventually([&] { return BoxShows(kStopQuestion); })) << "the stop asks nothing";
  }
  // The Server Manager's view, then Server Manager > Search Servers, from the keyboard.
  void SearchFromTheMenu() {
    Window status;
    ASSERT_TRUE(FindWindow([](const Window& w) { return w.cls == "msctls_statusbar32" && w.visible; }, &status));
    Click(status.left + 10, status.CentreY());
    Key(XK_n, XK_Alt_L);  // Functions > Server Manger
    Key(XK_s);
    Key(XK_s, XK_Alt_L);  // Server Manager > Search Servers
    Key(XK_s);
  }
  // The search's dialog has come and gone.
  void WaitForTheSearch() {
    const auto searching = [](const Window& w) { return TopLevel(w, "Searching for Servers...") && w.visible; };
    ASSERT_TRUE(FindWindow(searching, nullptr));
    ASSERT_TRUE(Eventually([&] { return !FindWindow(searching, nullptr, 10); })) << "the search goes on";
  }
  // The Server Manager's list once it has `rows` rows.
  Window ServerList(size_t rows) {
    Window list;
    FindWindow([&](const Window& w) { return w.id == 1016 && w.visible && w.rows.size() == rows; }, &list, 15000);
    return list;
  }

  // ---- the steps' pictures ----

  // The screen as it is now; turned into a picture only when the test failed (a copy is quick).
  void Shot(const std::string& step) {
    if (XImage* image = tavrin::test::CopyXScreen(x_)) shots_.emplace_back(step, image);
  }
  void KeepShots() {
    const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    for (size_t i = 0; i < shots_.size(); ++i) {
      char name[256];
      snprintf(name, sizeof name, "%s_%02zu_%s.png", test.c_str(), i + 1, shots_[i].first.c_str());
      tavrin::draw::WritePngFile(tavrin::test::SurfaceOfXImage(shots_[i].second), fs::absolute(name).string());
    }
    if (!shots_.empty()) printf("the steps' screenshots are kept beside the test program (%s_*.png)\n", test.c_str());
  }
  void DropShots() {
    for (auto& shot : shots_) XDestroyImage(shot.second);
    shots_.clear();
  }

  tavrin::test::XvfbServer xvfb_;
  Display* x_ = nullptr;
  std::unique_ptr<tavrin::test::KernelHostProcess> host_;
  zarnet::sim::Simulator sim_;
  zarnet::sim::Server* office_ = nullptr;
  std::string network_, program_;
  pid_t admin_ = -1;
  std::vector<std::pair<std::string, XImage*>> shots_;
};

TEST_F(AdminGuiTest, StartsBehindItsTrayIconAfterTheSplash) {
  StartAdmin();
  // The splash picture (400 x 240) shows while the frame is made, then goes. It is looked for on the
  // screen itself: the program's thread is busy making the frame while it shows.
  ASSERT_TRUE(Eventually([&] { return OnScreen(400, 240); })) << "no splash";
  const auto shown = std::chrono::steady_clock::now();
  Shot("splash");
  ASSERT_TRUE(Eventually([&] { return !OnScreen(400, 240); })) << "the splash stays";
  if (kSplashTimed) {
    EXPECT_LT(std::chrono::steady_clock::now() - shown, 2s) << "the splash stays too long";
  }
  Shot("after-splash");
  EXPECT_FALSE(Frame().visible) << "the frame starts hidden";

  // The tray icon, its tip shown while the pointer rests on it.
  Window tray;
  ASSERT_TRUE(TrayIcon(&tray));
  EXPECT_EQ(tray.text, "Pelko Admin Utility");
  Move((tray.left + tray.right) / 2, tray.CentreY());
  EXPECT_TRUE(FindWindow(
      [](const Window& w) { return w.cls == "tooltips_class32" && w.visible && w.text == "Pelko Admin Utility"; },
      nullptr))
      << "no tip over the tray icon";
  Shot("tray-tip");
}

TEST_F(AdminGuiTest, TheShownFrameHasItsBarsAndStartsDeviceMappingFromItsMenu) {
  StartAdmin();
  ASSERT_TRUE(FindWindow([](const Window& w) { return TopLevel(w, "Pelko Admin"); }, nullptr));
  ShowFrame();
  Shot("shown");

  // Toolbar and status bar: "Ready", the status line, and a clock that goes on.
  EXPECT_TRUE(FindWindow([](const Window& w) { return w.cls == "ToolbarWindow32" && w.visible; }, nullptr));
  Window status;
  ASSERT_TRUE(FindWindow([](const Window& w) { return w.cls == "msctls_statusbar32" && w.visible && !w.rows.empty(); },
                         &status));
  const std::regex clock(R"(Ready\|.*\|\d{1,2}/\d{1,2}/\d{4} \d\d:\d\d:\d\d)");
  const std::string first = status.rows[0].cells;
  ASSERT_TRUE(std::regex_match(first, clock)) << first;
  EXPECT_TRUE(Eventually([&] { return StatusPanes() != first; }, 5s)) << "the clock stands";

  // Device Mapping > Start Device Mapping, from the keyboard: the servers come.
  Click(status.left + 10, status.CentreY());
  Key(XK_d, XK_Alt_L);
  Key(XK_s);
  EXPECT_TRUE(Eventually([&] { return StatusPanes().find("127.0.0.9") != std::string::npos; })) << StatusPanes();
  Shot("mapping");
}

TEST_F(AdminGuiTest, TheTitleBarsCloseOnlyHidesAndExitEndsTheProgram) {
  StartAdmin();
  ASSERT_TRUE(FindWindow([](const Window& w) { return TopLevel(w, "Pelko Admin"); }, nullptr));
  ShowFrame();
  const Window frame = Frame();
  // The close box at the right end of the title bar.
  Click(frame.right - 12, frame.top + 12);
  EXPECT_TRUE(FindWindow([](const Window& w) { return TopLevel(w, "Pelko Admin") && !w.visible; }, nullptr));
  EXPECT_EQ(WaitAdmin(200), -1) << "the program goes on in the tray";
  Shot("closed");

  ShowFrame();
  Window status;
  ASSERT_TRUE(FindWindow([](const Window& w) { return w.cls == "msctls_statusbar32" && w.visible; }, &status));
  Click(status.left + 10, status.CentreY());
  Key(XK_f, XK_Alt_L);
  Key(XK_x);
  EXPECT_EQ(WaitAdmin(30000), 0) << "File > Exit ends the program";
}

TEST_F(AdminGuiTest, ExitWhileMappingIsRefusedByABoxAndAfterTheStopItEndsTheProgram) {
  StartAdmin();
  ASSERT_TRUE(FindWindow([](const Window& w) { return TopLevel(w, "Pelko Admin"); }, nullptr, 30000));
  Shot("started");
  ShowFrame();
  ASSERT_NO_FATAL_FAILURE(StartMappingFromTheMenu());
  ASSERT_TRUE(Eventually([&] { return StatusPanes().find("127.0.0.9") != std::string::npos; })) << StatusPanes();

  // File > Exit: the box says why not; Enter closes it and everything stays.
  const std::string refusal = "Please stop Device Mapping before exitting the application.";
  Key(XK_f, XK_Alt_L);
  Key(XK_x);
  ASSERT_TRUE(Eventually([&] { return BoxShows(refusal); })) << "no box";
  Shot("exit-refused");
  Key(XK_Return);
  ASSERT_TRUE(Eventually([&] { return !BoxShows(refusal); })) << "the box stays";
  const Window frame = Frame();
  EXPECT_TRUE(frame.visible);
  EXPECT_TRUE(Eventually([&] { return Frame().enabled; })) << "the frame stays disabled";
  EXPECT_TRUE(TrayIcon(nullptr));
  EXPECT_EQ(WaitAdmin(0), -1) << "the program ended";

  // Device Mapping > Stop, confirmed with Enter; then File > Exit ends the program and its tray icon.
  ASSERT_NO_FATAL_FAILURE(StopMappingFromTheMenu());
  Shot("stop-question");
  Key(XK_Return);
  ASSERT_TRUE(Eventually([&] { return !BoxShows(kStopQuestion) && StatusPanes().find("127.0.0.9") == std::string::npos; }))
      << StatusPanes();
  Key(XK_f, XK_Alt_L);
  Key(XK_x);
  // The tray icon goes with the frame, before the program ends.
  EXPECT_TRUE(Eventually([&] { return !TrayIcon(nullptr, 0); })) << "the tray icon stays";
  EXPECT_EQ(WaitAdmin(30000), 0) << "File > Exit after the stop ends the program";
}

// Exit chosen while the stop still runs (its wait window up, messages pumped) ends the program once the
// stop is over, never from inside it.
TEST_F(AdminGuiTest, ExitChosenDuringTheStopEndsTheProgramAfterIt) {
  StartAdmin();
  ASSERT_TRUE(FindWindow([](const Window& w) { return TopLevel(w, "Pelko Admin"); }, nullptr, 30000));
  ShowFrame();
  ASSERT_NO_FATAL_FAILURE(StartMappingFromTheMenu());
  ASSERT_TRUE(Eventually([&] { return StatusPanes().find("127.0.0.9") != std::string::npos; })) << StatusPanes();

  ASSERT_NO_FATAL_FAILURE(StopMappingFromTheMenu());
  // Enter, and File > Exit as soon as the box has gone: the stop is still releasing the devices.
  Key(XK_Return);
  ASSERT_TRUE(Eventually([&] { return !BoxShows(kStopQuestion); })) << "the box stays";
  Key(XK_f, XK_Alt_L);
  Key(XK_x);
  EXPECT_EQ(WaitAdmin(static_cast<int>(tavrin::test::Patient(30s).count())), 0) << "File > Exit during the stop ends the program";
}

TEST_F(AdminGuiTest, ServerSearchCountsDownAndListsTheServers) {
  StartAdmin();
  ASSERT_TRUE(FindWindow([](const Window& w) { return TopLevel(w, "Pelko Admin"); }, nullptr));
  ShowFrame();
  ASSERT_NO_FATAL_FAILURE(SearchFromTheMenu());
  Window search;
  ASSERT_TRUE(FindWindow([](const Window& w) { return TopLevel(w, "Searching for Servers...") && w.visible; }, &search));
  Shot("searching");
  // The countdown goes on while the servers come in.
  const std::regex counting(R"(Found \d+ Server\(s\), remaining time = [0-4] second\(s\))");
  EXPECT_TRUE(FindWindow([&](const Window& w) { return std::regex_match(w.text, counting); }, nullptr));
  // It ends by itself; the Server Manager's list then holds the server the search asked.
  EXPECT_TRUE(Eventually([&] {
    return !FindWindow([](const Window& w) { return TopLevel(w, "Searching for Servers...") && w.visible; }, nullptr, 10);
  })) << "the search goes on";
  Window list;
  EXPECT_TRUE(FindWindow(
      [](const Window& w) {
        if (w.id != 1016 || !w.visible || w.rows.size() != 1) return false;
        return w.rows[0].cells.find("127.0.0.91") != std::string::npos;
      },
      &list, 15000));
  Shot("found");
}

TEST_F(AdminGuiTest, LockedServerIsUnlockedWithItsPasswordOnly) {
  // A third server, locked with "lab", answering on the others' command port.
  zarnet::sim::ServerOptions options = zarnet::sim::LoopbackServerOptions(93, office_->options().broadcast_port);
  options.command_port = office_->command_port();
  options.data_port = 0;
  options.password_enable = true;
  options.password = "lab";
  zarnet::sim::Server locked(options);
  std::string error;
  ASSERT_TRUE(locked.Start(&error)) << error;
  const std::string only = "broadcast=127.0.0." + std::to_string(kOffice) + ";";
  network_.replace(network_.find(only), only.size(), "broadcast=127.0.0." + std::to_string(kOffice) + ",127.0.0.93;");

  StartAdmin();
  ASSERT_TRUE(FindWindow([](const Window& w) { return TopLevel(w, "Pelko Admin"); }, nullptr));
  ShowFrame();
  ASSERT_NO_FATAL_FAILURE(SearchFromTheMenu());
  ASSERT_NO_FATAL_FAILURE(WaitForTheSearch());
  const auto lockedRow = [](const Window& list) -> const Row* {
    for (const Row& row : list.rows)
      if (row.cells.find("127.0.0.93") != std::string::npos) return &row;
    return nullptr;
  };
  Window list = ServerList(2);
  ASSERT_NE(lockedRow(list), nullptr);
  EXPECT_NE(lockedRow(list)->cells.find("|Locked"), std::string::npos) << lockedRow(list)->cells;
  Shot("found");

  for (const char* password : {"wrong", "lab"}) {
    SCOPED_TRACE(password);
    const Window servers = ServerList(2);  // the row points into it
    const Row* row = lockedRow(servers);
    ASSERT_NE(row, nullptr);
    Click((row->left + row->right) / 2, (row->top + row->bottom) / 2);
    // The click asks the server for its details behind the wait window; Unlock comes after.
    ASSERT_TRUE(Eventually([&] {
      return !FindWindow([](const Window& w) { return w.text == "Please Wait..." && w.visible; }, nullptr, 10);
    })) << "the details' wait window stays";
    Key(XK_s, XK_Alt_L);  // Server Manager > Unlock
    Key(XK_u);
    const auto unlockDialog = [](const Window& w) { return TopLevel(w, "PassWord") && w.visible; };
    ASSERT_TRUE(FindWindow(unlockDialog, nullptr));
    for (const char* c = password; *c; ++c) Key(XStringToKeysym(std::string(1, *c).c_str()));
    Shot(std::string("typed-") + password);
    Key(XK_Return);
    // The answer comes in the program's message box, which Enter closes.
    const std::string answer = std::string(password) == "lab" ? "Unlock successful !!" : "Unlock Failed!!";
    ASSERT_TRUE(FindWindow([&](const Window& w) { return w.text == answer && w.visible; }, nullptr)) << answer;
    Shot(std::string("answer-") + password);
    Key(XK_Return);
    ASSERT_TRUE(Eventually([&] { return !FindWindow(unlockDialog, nullptr, 10); })) << "the dialog stays";
    EXPECT_EQ(locked.locked(), std::string(password) != "lab");
  }
  EXPECT_TRUE(FindWindow(
      [](const Window& w) {
        for (const Row& row : w.rows)
          if (w.id == 1016 && row.cells.find("127.0.0.93") != std::string::npos) return row.cells.find("|Unlocked") != std::string::npos;
        return false;
      },
      nullptr));
  Shot("unlocked");
  StopAdmin();
  locked.Stop();
}

// The panes as the simulator fills them: the servers and their devices in the tree, the selected device's
// details beside it; Help > About shows the box with the installed program's version, and Enter closes it.
TEST_F(AdminGuiTest, ThePanesShowTheServedDevicesAndTheSelectedOnesDetails) {
  StartAdmin();
  ASSERT_TRUE(FindWindow([](const Window& w) { return TopLevel(w, "Pelko Admin"); }, nullptr, 30000));
  ShowFrame();
  ASSERT_NO_FATAL_FAILURE(StartMappingFromTheMenu());
  // A shown row holding every one of the texts.
  const auto shownRow = [this](std::initializer_list<const char*> parts, Row* found) {
    return FindWindow(
        [&](const Window& w) {
          if (!w.visible) return false;
          for (const Row& row : w.rows) {
            bool all = true;
            for (const char* part : parts) all = all && row.cells.find(part) != std::string::npos;
            if (all) {
              if (found) *found = row;
              return true;
            }
          }
          return false;
        },
        nullptr, 30000);
  };
  EXPECT_TRUE(shownRow({"127.0.0.91", "Loaded Successfully"}, nullptr)) << "no row of the office server";
  EXPECT_TRUE(shownRow({"127.0.0.92", "Loaded Successfully"}, nullptr)) << "no row of the lab server";
  EXPECT_TRUE(shownRow({"Cruzer Blade", "Busy"}, nullptr)) << "the held device is not busy";
  Row printer;
  ASSERT_TRUE(shownRow({kPrinterName, "Free"}, &printer)) << "no free printer";
  Shot("devices");

  Click(printer.left + 30, (printer.top + printer.bottom) / 2);
  EXPECT_TRUE(shownRow({"Vid: 03f0"}, nullptr)) << "the printer's details do not show";
  EXPECT_TRUE(shownRow({"Product Name: Office LaserPrinter 1020"}, nullptr));
  Shot("details");

  Key(XK_h, XK_Alt_L);  // Help > About
  Key(XK_a);
  ASSERT_TRUE(FindWindow([](const Window& w) { return TopLevel(w, "About Pelko") && w.visible; }, nullptr))
      << "no About box";
  Window version;
  EXPECT_TRUE(FindWindow([](const Window& w) { return w.depth == 1 && w.id == 1059; }, &version));
  EXPECT_TRUE(std::regex_search(version.text, std::regex(R"(Version \d+, \d+, \d+, \d+)"))) << version.text;
  Shot("about");
  Key(XK_Return);
  EXPECT_TRUE(Eventually([&] {
    return !FindWindow([](const Window& w) { return TopLevel(w, "About Pelko") && w.visible; }, nullptr, 10);
  })) << "the About box stays";
}

}  // namespace
