// Top-level windows of another process: found by title, queried, restored, shown and brought forward,
// as a second copy of the admin program does with the first copy's window.
#include <algorithm>
#include <thread>

#include "draw/png.h"
#include "peer_process.h"
#include "testsupport/sysroot.h"
#include "win32/user.h"
#include "win32/window_manager.h"

namespace {

using tavrin::test::PeerProcess;
using tavrin::test::SysrootTest;

class CrossProcessWindowTest : public SysrootTest {};

TEST_F(CrossProcessWindowTest, SecondCopyBringsTheFirstCopysWindowForward) {
  PeerProcess first({"window", "Pelko Admin", "peer-quit"});
  ASSERT_TRUE(first.WaitForLine("ready"));

  HWND frame = FindWindow(nullptr, "Pelko Admin");
  ASSERT_NE(frame, nullptr);
  DWORD pid = 0;
  GetWindowThreadProcessId(frame, &pid);
  EXPECT_EQ(pid, static_cast<DWORD>(first.pid()));
  EXPECT_EQ(FindWindow("peerframe", nullptr), frame);
  char title[32];
  EXPECT_EQ(GetWindowText(frame, title, sizeof title), 11);
  EXPECT_STREQ(title, "Pelko Admin");
  EXPECT_TRUE(IsWindow(frame));
  EXPECT_TRUE(IsIconic(frame));
  EXPECT_FALSE(IsWindowVisible(frame));
  HWND popup = GetLastActivePopup(frame);
  ASSERT_NE(popup, frame);
  EXPECT_EQ(GetParent(popup), frame);

  // What the second copy does before it ends.
  if (IsIconic(frame)) ShowWindow(frame, SW_RESTORE);
  ShowWindow(frame, SW_SHOW);
  EXPECT_TRUE(SetForegroundWindow(popup));

  EXPECT_FALSE(IsIconic(frame));
  EXPECT_TRUE(IsWindowVisible(frame));
  EXPECT_EQ(GetForegroundWindow(), popup);
  EXPECT_TRUE(first.WaitForLine("frame WM_SHOWWINDOW 1"));
  EXPECT_TRUE(first.WaitForLine("popup WM_ACTIVATE 1"));

  HANDLE quit = OpenEvent(EVENT_MODIFY_STATE, FALSE, "peer-quit");
  ASSERT_NE(quit, nullptr);
  SetEvent(quit);
  EXPECT_TRUE(first.WaitForLine("bye"));
  EXPECT_EQ(first.Wait(), 0);
  CloseHandle(quit);
  EXPECT_FALSE(IsWindow(frame));
  EXPECT_EQ(FindWindow(nullptr, "Pelko Admin"), nullptr);
  EXPECT_FALSE(ShowWindow(frame, SW_SHOW));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(CrossProcessWindowTest, MessagesPostedToAnotherProcesssWindowReachItsQueue) {
  PeerProcess peer({"window", "Commanded", "commanded-quit"});
  ASSERT_TRUE(peer.WaitForLine("ready"));
  HWND frame = FindWindow(nullptr, "Commanded");
  ASSERT_NE(frame, nullptr);
  EXPECT_TRUE(PostMessage(frame, WM_COMMAND, 32866, 7));
  EXPECT_TRUE(peer.WaitForLine("frame WM_COMMAND 32866 7"));

  HANDLE quit = OpenEvent(EVENT_MODIFY_STATE, FALSE, "commanded-quit");
  ASSERT_NE(quit, nullptr);
  SetEvent(quit);
  EXPECT_EQ(peer.Wait(), 0);
  CloseHandle(quit);
  EXPECT_FALSE(PostMessage(frame, WM_COMMAND, 32866, 0)) << "the window is gone with its process";
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(CrossProcessWindowTest, ToolsListAnotherProcesssWindowsAndInjectItsInput) {
  PeerProcess peer({"window", "Listed", "listed-quit"});
  ASSERT_TRUE(peer.WaitForLine("ready"));
  auto lines = tavrin::win::ListAllWindows();
  auto has = [&](const std::string& part) {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(part) != std::string::npos; });
  };
  EXPECT_TRUE(has("class=\"PeerFrame\""));
  EXPECT_TRUE(has("text=\"Peer pop-up\"") && has("visible=1 enabled=1"));
  HWND popup = FindWindow("PeerPopup", nullptr);
  ASSERT_NE(popup, nullptr);
  EXPECT_TRUE(tavrin::win::RemoteInput(popup, "click 30 40"));
  EXPECT_TRUE(peer.WaitForLine("popup WM_LBUTTONDOWN 30 40"));
  EXPECT_TRUE(tavrin::win::RemoteInput(popup, "text ok"));
  EXPECT_TRUE(peer.WaitForLine("popup WM_CHAR o"));
  EXPECT_TRUE(peer.WaitForLine("popup WM_CHAR k"));
  EXPECT_FALSE(tavrin::win::RemoteInput(popup, "dance"));
  std::vector<uint8_t> png;
  ASSERT_TRUE(tavrin::win::RemoteScreenshot(popup, png));
  auto picture = tavrin::draw::DecodePng(png.data(), png.size());
  ASSERT_TRUE(picture.has_value());
  EXPECT_EQ(picture->width(), 1024 * 3 / 4) << "a window placed by default";
  EXPECT_TRUE(tavrin::win::RemoteScreenshot(nullptr, png)) << "the other process's screen";

  HANDLE quit = OpenEvent(EVENT_MODIFY_STATE, FALSE, "listed-quit");
  ASSERT_NE(quit, nullptr);
  SetEvent(quit);
  EXPECT_EQ(peer.Wait(), 0);
  CloseHandle(quit);
}

// A listing asks the other process's controls for their state on the thread that owns them. That thread
// may destroy its last window before it answers: the window goes all the same, and the listing ends.
TEST_F(CrossProcessWindowTest, TheLastWindowGoesWhileAListingWaitsForItsThread) {
  PeerProcess peer({"busy-window", "Busy"});
  ASSERT_TRUE(peer.WaitForLine("ready"));
  std::thread listing([] { tavrin::win::ListAllWindows(); });
  EXPECT_TRUE(peer.WaitForLine("asked"));
  EXPECT_TRUE(peer.WaitForLine("gone")) << "the window's end waited for the listing, which waited for it";
  EXPECT_EQ(peer.Wait(), 0);
  listing.join();
}

TEST_F(CrossProcessWindowTest, WindowsOfAKilledProcessAreNotFound) {
  PeerProcess peer({"window", "Doomed", "doomed-quit"});
  ASSERT_TRUE(peer.WaitForLine("ready"));
  HWND frame = FindWindow(nullptr, "Doomed");
  ASSERT_NE(frame, nullptr);
  peer.Kill();
  EXPECT_EQ(FindWindow(nullptr, "Doomed"), nullptr);
  EXPECT_FALSE(IsWindow(frame));
  EXPECT_FALSE(IsIconic(frame));
}

TEST_F(CrossProcessWindowTest, OwnWindowsAreFoundBeforeOtherProcesses) {
  PeerProcess peer({"window", "Shared Title", "shared-quit"});
  ASSERT_TRUE(peer.WaitForLine("ready"));
  tavrin::win::WindowSpec spec;
  spec.className = "Local";
  spec.title = "Shared Title";
  HWND mine = tavrin::win::CreateWindowObject(spec);
  EXPECT_EQ(FindWindow(nullptr, "Shared Title"), mine);
  EXPECT_NE(FindWindow("PeerFrame", "Shared Title"), nullptr);
  EXPECT_FALSE(DestroyWindow(FindWindow("PeerFrame", nullptr))) << "another process's window is not ours to end";
  DestroyWindow(mine);
}

}  // namespace
