// The fixture of the tests that drive TavrinAdmin as a person does: the installed program on a private
// Xvfb display behind its tray icon, two simulated servers on loopback and the kernel host with the bus
// driver. Input goes only as real X events (XTest); state is read back through "tavrin-ctl windows", as
// another program sees it. A screenshot of each step is kept beside the test program when a test fails.
#pragma once
#include <gtest/gtest.h>
// Xlib's macros meet gtest's names: the X headers come after it, their clashing macros undone.
#include <X11/Xlib.h>
#include <X11/XKBlib.h>
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
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "draw/png.h"
#include "draw/surface.h"
#include "testsupport/child_process.h"
#include "testsupport/eventually.h"
#include "testsupport/kernel_host_process.h"
#include "testsupport/sysroot.h"
#include "testsupport/x_screen.h"
#include "testsupport/xvfb.h"
#include "win32/sysroot.h"
#include "zarnet/sim/simulator.h"

namespace admin_gui {

namespace fs = std::filesystem;
using tavrin::test::Eventually;

inline constexpr int kOffice = 91;  // 127.0.0.91: a printer (free) and a device another computer holds
inline constexpr int kLab = 92;     // 127.0.0.92: a keyboard
inline constexpr char kPrinterName[] = "Office LaserPrinter 1020";

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

// Whether one of the row's cells is exactly `text`.
bool HasCell(const Row& row, const std::string& text);
// The fields of one line of "tavrin-ctl windows": `key="text"` or `key=word`; "" when missing.
std::string Field(const std::string& line, const std::string& key);
// Every window of a "tavrin-ctl windows" listing, in its order, with the rows its lists show.
std::vector<Window> ParseWindows(const std::string& listing);

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
    ASSERT_TRUE(host_->WaitReady(30000));

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
    std::string error;
    ASSERT_TRUE(sim_.Start(&error)) << error;  // its ports are known once it runs
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
    lab.command_port = office_->command_port();  // one port for the commands of both, one for their data
    lab.data_port = office_->data_port();
    ASSERT_TRUE(sim_.AddServer(lab).Start(&error)) << error;
    network_ = "bind=127.0.0.1;devicelist=" + std::to_string(listenPort) + ";broadcast=127.0.0." +
               std::to_string(kOffice) + ";discovery=" + std::to_string(office_->command_port()) +
               ";command=" + std::to_string(office_->command_port()) + ";data=" + std::to_string(office_->data_port());
  }

  void TearDown() override {
    if (HasFailure()) KeepShots();
    DropShots();
    StopAdmin();
    for (auto& server : servers_) server->Stop();
    sim_.Stop();
    host_.reset();
    if (x_) XCloseDisplay(x_);
    xvfb_.Stop();
    SysrootTest::TearDown();
  }

  // A further server on 127.0.0.`n`, answering on the office's command port with a data port of its own,
  // started now and asked by the search (before StartAdmin). `adjust` changes its settings first.
  zarnet::sim::Server& StartServer(int n, const std::function<void(zarnet::sim::ServerOptions&)>& adjust = {}) {
    zarnet::sim::ServerOptions options = zarnet::sim::LoopbackServerOptions(n, office_->options().broadcast_port);
    options.command_port = office_->command_port();
    options.data_port = 0;
    if (adjust) adjust(options);
    servers_.push_back(std::make_unique<zarnet::sim::Server>(options));
    std::string error;
    EXPECT_TRUE(servers_.back()->Start(&error)) << error;
    const std::string list = "broadcast=127.0.0." + std::to_string(kOffice);
    network_.insert(network_.find(list) + list.size(), ",127.0.0." + std::to_string(n));
    return *servers_.back();
  }

  // ---- the program ----

  void StartAdmin() {
    tavrin::test::ChildSetup setup;
    setup.Set("DISPLAY", xvfb_.name())
        .Set("TAVRIN_DISPLAY", "x11")
        .Set("TAVRIN_ADMIN_NET", network_)
        .Unset("TAVRIN_MSGBOX_ANSWER");
    for (const auto& [name, value] : environment_) setup.Set(name, value);
    admin_ = tavrin::test::StartChild({program_}, setup);
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
  // The first window that matches, looked for until the time is up (long by default: a busy computer is
  // slow to show what the program does; a check that something stays away passes a short time).
  bool FindWindow(const std::function<bool(const Window&)>& match, Window* found, int ms = 30000) {
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
  // A row of a shown list that `matches`, looked for until the time is up.
  bool ShownRowWhere(const std::function<bool(const Row&)>& matches, Row* found, int ms = 30000) {
    return FindWindow(
        [&](const Window& w) {
          if (!w.visible) return false;
          for (const Row& row : w.rows)
            if (matches(row)) {
              if (found) *found = row;
              return true;
            }
          return false;
        },
        nullptr, ms);
  }
  // A row of a shown list holding every one of the texts.
  bool ShownRow(std::initializer_list<const char*> parts, Row* found, int ms = 30000) {
    return ShownRowWhere(
        [&](const Row& row) {
          for (const char* part : parts)
            if (row.cells.find(part) == std::string::npos) return false;
          return true;
        },
        found, ms);
  }
  // A row of a shown list with a cell that is exactly `text` (an icon's label, not a longer name holding it).
  bool ShownRowWithCell(const char* text, Row* found, int ms = 30000) {
    return ShownRowWhere([&](const Row& row) { return HasCell(row, text); }, found, ms);
  }
  static bool TopLevel(const Window& w, const char* text) { return w.depth == 0 && w.text == text; }
  Window Frame() {
    Window frame;
    FindWindow([](const Window& w) { return TopLevel(w, "Pelko Admin"); }, &frame);
    return frame;
  }
  // The tray icon's window, where it shows.
  bool TrayIcon(Window* found, int ms = 30000) {
    return FindWindow([](const Window& w) { return w.depth == 0 && w.cls == "TavrinTrayIcon" && w.visible; }, found,
                      ms);
  }
  // Shows the hidden frame with a double click on the tray icon and waits until it shows.
  void ShowFrame() {
    Window tray;
    ASSERT_TRUE(TrayIcon(&tray)) << "no tray icon";  // made with the frame, after the splash
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
    tavrin::test::WaitXWindowAt(x_, x, y);
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

  // Text typed key by key, with Shift where the key's first symbol is another (letters, digits and what
  // the US layout has on its keys).
  void Type(const std::string& text) {
    for (char c : text) {
      const KeySym symbol = c == ' ' ? XK_space : static_cast<KeySym>(static_cast<unsigned char>(c));  // Latin-1
      const KeyCode code = XKeysymToKeycode(x_, symbol);
      if (code == 0) {
        ADD_FAILURE() << "no key for '" << c << "'";
        continue;
      }
      Key(symbol, XkbKeycodeToKeysym(x_, code, 0, 0) == symbol ? 0 : XK_Shift_L);
    }
  }
  void ClickCentre(const Window& w, int count = 1) { Click((w.left + w.right) / 2, w.CentreY(), 1, count); }
  void ClickCentre(const Row& row, int count = 1) { Click((row.left + row.right) / 2, (row.top + row.bottom) / 2, 1, count); }
  // The shown, enabled control of `cls` with that id.
  bool Control(long id, const std::string& cls, Window* found, int ms = 30000) {
    return FindWindow([&](const Window& w) { return w.id == id && w.cls == cls && w.visible && w.enabled; }, found, ms);
  }
  // Clicks the shown, enabled control of `cls` with that id; false when there is none.
  bool ClickControl(long id, const std::string& cls, int count = 1) {
    Window control;
    if (!Control(id, cls, &control)) return false;
    ClickCentre(control, count);
    return true;
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
    FindWindow([&](const Window& w) { return w.id == 1016 && w.visible && w.rows.size() == rows; }, &list);
    return list;
  }

  // Searches, then clicks the server's row in the Server Manager's list of `rows`, which asks the server
  // for its details behind the wait window; returns once that window went.
  void SelectServer(const std::string& ip, size_t rows) {
    ASSERT_NO_FATAL_FAILURE(SearchFromTheMenu());
    ASSERT_NO_FATAL_FAILURE(WaitForTheSearch());
    const Window list = ServerList(rows);
    const Row* chosen = nullptr;
    for (const Row& row : list.rows)
      if (HasCell(row, ip)) chosen = &row;
    ASSERT_NE(chosen, nullptr) << ip << " is not listed";
    ClickCentre(*chosen);
    ASSERT_TRUE(Eventually([&] {
      return !FindWindow([](const Window& w) { return w.text == "Please Wait..." && w.visible; }, nullptr, 10);
    })) << "the details' wait window stays";
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
  std::vector<std::unique_ptr<zarnet::sim::Server>> servers_;  // StartServer's
  std::vector<std::pair<std::string, std::string>> environment_;  // more for the program's environment
  std::string network_, program_;
  pid_t admin_ = -1;
  std::vector<std::pair<std::string, XImage*>> shots_;
};

}  // namespace admin_gui
