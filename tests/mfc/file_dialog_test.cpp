// The Save As and Open dialogs: a test's sink answers them; on a display the person lists the sysroot's
// folders, types a name (the default extension added) and takes it with Enter, or cancels.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "mfc/filedialog.h"
#include "testsupport/eventually.h"
#include "testsupport/sysroot.h"
#include "win32/window_manager.h"

namespace {

using tavrin::test::Eventually;

struct BlindDisplay : tavrin::win::DisplaySink {
  void WindowChanged(HWND) override {}
  void WindowDestroyed(HWND) override {}
  void SurfaceDamaged(HWND, const RECT&) override {}
};

class FileDialogTest : public tavrin::test::SysrootTest {
 protected:
  void SetUp() override {
    SysrootTest::SetUp();
    std::filesystem::create_directories(root() / "C" / "WINDOWS" / "Logs");
    std::ofstream(root() / "C" / "WINDOWS" / "old.txt") << "x";
    std::ofstream(root() / "C" / "WINDOWS" / "setup.ini") << "x";
  }
  void TearDown() override {
    tavrin::win::SetDisplaySink(nullptr);
    tavrin::SetFileDialogSink(nullptr);
    SysrootTest::TearDown();
  }

  // Runs the dialog on this thread while the person, on another, reads its list and acts.
  INT_PTR Run(CFileDialog& dialog, const char* title, const std::function<void(HWND)>& act) {
    std::thread person([&] {
      HWND shown = nullptr;
      if (!Eventually([&] {
            shown = FindWindow("#32770", title);
            return shown && IsWindowVisible(shown) && GetFocus() == GetDlgItem(shown, 1152);
          }))
        return;
      const LRESULT count = SendDlgItemMessage(shown, 1120, LB_GETCOUNT, 0, 0);
      for (LRESULT i = 0; i < count; ++i) {
        char entry[MAX_PATH] = {};
        SendDlgItemMessage(shown, 1120, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(entry));
        listed_.push_back(entry);
      }
      act(shown);
    });
    const INT_PTR answer = dialog.DoModal();
    person.join();
    return answer;
  }

  BlindDisplay display_;
  std::vector<std::string> listed_;
};

TEST_F(FileDialogTest, ASinkAnswersAndWithoutDisplayOrSinkTheDialogIsCancelled) {
  CFileDialog cancelled(FALSE, ".txt", "", OFN_HIDEREADONLY, "LogFile(*.txt)|*.txt||");
  EXPECT_EQ(cancelled.DoModal(), IDCANCEL);

  std::string asked;
  tavrin::SetFileDialogSink([&](bool save, const std::string& title, const std::string&) {
    asked = (save ? "save " : "open ") + title;
    return std::string("C:\\WINDOWS\\chosen.txt");
  });
  CFileDialog dialog(FALSE, ".txt", "", OFN_HIDEREADONLY, "LogFile(*.txt)|*.txt||");
  ASSERT_EQ(dialog.DoModal(), IDOK);
  EXPECT_EQ(asked, "save Save As");
  EXPECT_EQ(dialog.GetPathName(), CString("C:\\WINDOWS\\chosen.txt"));
  EXPECT_EQ(dialog.GetFileName(), CString("chosen.txt"));
}

TEST_F(FileDialogTest, ThePersonTypesANameInTheListedFolderAndEnterTakesIt) {
  tavrin::win::SetDisplaySink(&display_);
  CFileDialog dialog(FALSE, ".txt", "", OFN_HIDEREADONLY, "LogFile(*.txt)|*.txt||");
  ASSERT_EQ(Run(dialog, "Save As",
                [](HWND) {
                  tavrin::win::InjectText("mapping");
                  tavrin::win::InjectKey(VK_RETURN, true);
                  tavrin::win::InjectKey(VK_RETURN, false);
                }),
            IDOK);
  EXPECT_EQ(listed_, (std::vector<std::string>{"[..]", "[Logs]", "old.txt"})) << "folders, then what the filter lets through";
  EXPECT_EQ(dialog.GetPathName(), CString("C:\\WINDOWS\\mapping.txt"));
}

TEST_F(FileDialogTest, AFolderNamedIsEnteredAndEscapeCancels) {
  tavrin::win::SetDisplaySink(&display_);
  CFileDialog dialog(TRUE, nullptr, "", 0, "All(*.*)|*.*||");
  EXPECT_EQ(Run(dialog, "Open",
                [](HWND shown) {
                  tavrin::win::InjectText("Logs\n");
                  EXPECT_TRUE(Eventually([&] {
                    char folder[MAX_PATH] = {};
                    GetDlgItemText(shown, 1088, folder, sizeof folder);
                    return std::string(folder) == "C:\\WINDOWS\\Logs";
                  }));
                  tavrin::win::InjectKey(VK_ESCAPE, true);
                  tavrin::win::InjectKey(VK_ESCAPE, false);
                }),
            IDCANCEL);
  EXPECT_EQ(listed_.size(), 4u) << "[..], [Logs], old.txt and setup.ini";
}

}  // namespace
