// The log pane: row numbers and time stamps of both logs, Clear, the tab that follows the navigation
// pane's choice, rows from other threads, and Save to File (TAB-separated rows without commas, into a new
// file only).
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "admin/TavrinAdminDoc.h"
#include "admin/ui/BottemFormView.h"
#include "admin/ui/MainFrame.h"
#include "testsupport/admin_app.h"
#include "testsupport/message_pump.h"
#include "testsupport/sysroot.h"

namespace {

// Shown in its pane (the pane itself may be in a hidden window).
bool Shown(const CWnd& window) { return (window.GetStyle() & WS_VISIBLE) != 0; }

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class LogPaneTest : public tavrin::test::SysrootTest {
 protected:
  void SetUp() override {
    SysrootTest::SetUp();
    host_ = std::make_unique<tavrin::test::PaneHost>(&doc_, RUNTIME_CLASS(CBottemFormView));
    ASSERT_NE(host_->view(), nullptr);
    pane_ = &host_->as<CBottemFormView>();
  }
  void TearDown() override {
    host_.reset();
    SysrootTest::TearDown();
  }

  CTavrinAdminDoc doc_;
  std::unique_ptr<tavrin::test::PaneHost> host_;
  CBottemFormView* pane_ = nullptr;
};

TEST_F(LogPaneTest, RowsAreNumberedAndStampedInEachLogsFormat) {
  pane_->AddDeviceMappingLog("Started Device Mapping Functionality.");
  pane_->AddDeviceMappingLog("Server (127.0.0.2) Arrival Notification Successful.!!");
  pane_->AddServerManagerLog("1 Server(s) Found");
  const std::vector<LogRow> mapping = pane_->GetDeviceMappingLog();
  ASSERT_EQ(mapping.size(), 2u);
  EXPECT_EQ(mapping[0].Serial, 1);
  EXPECT_EQ(mapping[1].Serial, 2);
  EXPECT_EQ(mapping[1].Text, "Server (127.0.0.2) Arrival Notification Successful.!!");
  EXPECT_TRUE(std::regex_match(mapping[0].Time.str(), std::regex(R"(\d\d-\d\d-\d{4} : \d\d:\d\d:\d\d)")))
      << mapping[0].Time.str();
  const std::vector<LogRow> manager = pane_->GetServerManagerLog();
  ASSERT_EQ(manager.size(), 1u);
  EXPECT_EQ(manager[0].Serial, 1);
  EXPECT_TRUE(std::regex_match(manager[0].Time.str(), std::regex(R"(\d\d-\d\d-\d{4},  \d\d:\d\d:\d\d)")))
      << manager[0].Time.str();
}

TEST_F(LogPaneTest, ClearEmptiesTheSelectedLogAndNumberingStartsAgain) {
  pane_->AddDeviceMappingLog("one");
  pane_->AddDeviceMappingLog("two");
  pane_->AddServerManagerLog("kept");
  pane_->SendMessage(WM_COMMAND, 32809, 0);  // "&Clear" on the Device Mapping tab
  EXPECT_TRUE(pane_->GetDeviceMappingLog().empty());
  EXPECT_EQ(pane_->GetServerManagerLog().size(), 1u);
  pane_->AddDeviceMappingLog("three");
  EXPECT_EQ(pane_->GetDeviceMappingLog()[0].Serial, 1);
}

TEST_F(LogPaneTest, TheVisibleLogFollowsTheViewModeAndTheTabs) {
  EXPECT_EQ(doc_.m_ViewModeFlags[kLogDeviceMapping], 1u) << "the first update takes Device Mapping";
  EXPECT_EQ(pane_->GetSelectedLog(), 0);
  EXPECT_TRUE(Shown(pane_->m_lstDeviceMappingLog));
  doc_.m_ViewModeFlags[kLogDeviceMapping] = 0;
  doc_.m_ViewModeFlags[kLogServerManager] = 1;
  doc_.UpdateAllViews(nullptr);
  EXPECT_EQ(pane_->GetSelectedLog(), 1);
  EXPECT_TRUE(Shown(pane_->m_lstServerManagerLog));
  EXPECT_FALSE(Shown(pane_->m_lstDeviceMappingLog));

  // A click on the first tab shows its list.
  pane_->m_tabLogs.SetCurSel(0);
  NMHDR change{pane_->m_tabLogs.GetSafeHwnd(), 1000, TCN_SELCHANGE};
  pane_->SendMessage(WM_NOTIFY, 1000, reinterpret_cast<LPARAM>(&change));
  EXPECT_TRUE(Shown(pane_->m_lstDeviceMappingLog));
  EXPECT_FALSE(Shown(pane_->m_lstServerManagerLog));
}

TEST_F(LogPaneTest, RowsFromAnotherThreadArriveInOrderWithTheirOwnTime) {
  std::thread worker([&] {
    for (int i = 1; i <= 20; ++i) pane_->AddDeviceMappingLog(("from a worker " + std::to_string(i)).c_str());
  });
  worker.join();
  ASSERT_TRUE(tavrin::test::PumpUntil([&] { return pane_->GetDeviceMappingLog().size() == 20; }));
  const std::vector<LogRow> rows = pane_->GetDeviceMappingLog();
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(rows[static_cast<size_t>(i)].Serial, i + 1);
    EXPECT_EQ(rows[static_cast<size_t>(i)].Text, ("from a worker " + std::to_string(i + 1)).c_str());
  }
}

TEST_F(LogPaneTest, SavedRowsAreTabSeparatedWithoutCommas) {
  EXPECT_EQ(FormatSavedLogLine("3", "01-02-2024,  10:11:12", "a, b,c"), "3\t01-02-2024  10:11:12\ta bc");

  doc_.m_ViewModeFlags[kLogDeviceMapping] = 0;
  doc_.m_ViewModeFlags[kLogServerManager] = 1;
  doc_.UpdateAllViews(nullptr);
  pane_->AddServerManagerLog("Server  ( 127.0.0.2 ) configuration saved, successfully !!");
  pane_->AddServerManagerLog("second");
  const std::filesystem::path path = root() / "C" / "log.txt";
  ASSERT_TRUE(pane_->SaveSelectedLog("C:\\log.txt"));
  const std::string saved = ReadFile(path);
  const std::vector<LogRow> rows = pane_->GetServerManagerLog();
  std::string expected;
  for (const LogRow& row : rows) {
    std::string time = row.Time.str();
    time.erase(std::remove(time.begin(), time.end(), ','), time.end());
    std::string text = row.Text.str();
    text.erase(std::remove(text.begin(), text.end(), ','), text.end());
    expected += std::to_string(row.Serial) + "\t" + time + "\t" + text + "\r\n";
  }
  EXPECT_EQ(saved, expected);
  EXPECT_EQ(saved.find(','), std::string::npos);
}

TEST_F(LogPaneTest, SavingNeverWritesOverAFileItDidNotCreate) {
  pane_->AddDeviceMappingLog("row");
  const std::filesystem::path path = root() / "C" / "taken.txt";
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path) << "someone else's";
  EXPECT_FALSE(pane_->SaveSelectedLog("C:\\taken.txt"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  EXPECT_EQ(ReadFile(path), "someone else's");

  // An empty list makes an empty file.
  pane_->OnClear();
  ASSERT_TRUE(pane_->SaveSelectedLog("C:\\empty.txt"));
  EXPECT_TRUE(std::filesystem::exists(root() / "C" / "empty.txt"));
  EXPECT_EQ(ReadFile(root() / "C" / "empty.txt"), "");
}

}  // namespace
