#include "windows_fixture.h"

#include "gui/desktop.h"

namespace tavrinmac::test {

int RecordingUi::Alert(const AlertText& alert) {
  {
    std::lock_guard lock(mutex_);
    alerts_.push_back(alert.title + " " + alert.message);
  }
  return AppKitUi::Alert(alert);
}

std::vector<std::string> RecordingUi::alertLines() const {
  std::lock_guard lock(mutex_);
  return alerts_;
}

void WindowsTest::SetUp() {
  MacTest::SetUp();
  NSApplication::sharedApplication();
  tavrin::gui::TheDesktop().SetScreenSize(1024, 768);
  manager_ = alloc<serverManager>()->init();
  w_ = ServerManagerWindows::Load(manager_);
  windowsUi_ = std::make_unique<RecordingUi>();
  ServerManagerWindows* windows = w_;
  windowsUi_->SetReload([windows](View view) { windows->Reload(view); });
  windowsUi_->SetModalWindows([windows](View view) { return windows->WindowFor(view); });
  SetUi(windowsUi_.get());
  for (View view : {View::kServersTable, View::kServerLog, View::kServerItems, View::kServerDetails})
    w_->Reload(view);
  w_->Show();
}

void WindowsTest::TearDown() {
  serverManager::joinWorkers();
  appkit::RunMainLoopUntil([] { return false; }, 0);  // what the workers queued
  SetUi(&ui_);
  windowsUi_.reset();
  appkit::SetPanelSink(nullptr);
  if (w_) w_->release();
  if (manager_) manager_->release();
  appkit::RunMainLoopUntil([] { return false; }, 0);
  MacTest::TearDown();
}

bool WindowsTest::Until(const std::function<bool()>& done) { return appkit::RunMainLoopUntil(done, 20); }

std::string WindowsTest::Cell(NSTableView* table, const char* column, int row) {
  NSTableColumn* c = table->tableColumnWithIdentifier(NSString::stringWithUTF8String(column));
  if (!c || row < 0 || row >= table->numberOfRows()) return {};
  auto* value = static_cast<NSString*>(table->dataSource()->tableView_objectValueForTableColumn_row(table, c, row));
  return value ? value->str() : std::string();
}

int WindowsTest::RowOf(const std::string& address) {
  for (int row = 0; row < w_->serversTable->numberOfRows(); ++row)
    if (Cell(w_->serversTable, "3", row) == address) return row;
  return -1;
}

bool WindowsTest::LogShows(const std::string& line) {
  for (int row = 0; row < w_->logTable->numberOfRows(); ++row)
    if (Cell(w_->logTable, "2", row) == line) return true;
  return false;
}

}  // namespace tavrinmac::test
