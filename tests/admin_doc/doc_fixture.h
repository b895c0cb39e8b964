// The whole application object in the test's thread (which plays the user-interface thread), the
// kernel-host program as the drivers, message boxes answered by the test, and the helpers the tests share.
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "admin/TavrinAdminApp.h"
#include "admin/TavrinAdminDoc.h"
#include "admin/ui/BottemFormView.h"
#include "admin/ui/FunctionView.h"
#include "admin/ui/MainFrame.h"
#include "testsupport/kernel_host_process.h"
#include "testsupport/sanitizers.h"
#include "testsupport/sysroot.h"

namespace admin_doc_test {

struct Box {
  std::string text;
  UINT type;
};

// 127.0.0.x in network byte order, and as text.
uint32_t ServerAddress(int last);
std::string ServerText(int last);

class DocTest : public tavrin::test::SysrootTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  void StartHost();
  // With the kernel host's own options (the stand-in control device by default).
  void StartHost(const std::vector<std::string>& options);
  // Starts device mapping with the host up and waits until the bus side is up (control device open,
  // device thread running, refresh timer set).
  void StartMappingWithBus();
  // Dispatches this thread's messages until done() or the time is up; false on time-out.
  bool PumpUntil(const std::function<bool()>& done, int milliseconds = 10000);
  void PumpFor(int milliseconds);
  // The functional pane's periodic refresh, now. The fixture sets its period far beyond any test, so a
  // refresh never runs between a test's steps (it would take devices no broadcast lists for departed).
  void Refresh();
  void Command(UINT id);

  std::string ReadLog() const;
  std::vector<std::string> MappingLogTexts() const;
  bool MappingLogHas(const std::string& text) const;

  // A request slot as the fillers write it, queued under the table's lock.
  void QueueServerRequest(int slot, bool arrival, int serverLast);
  void QueueDeviceRequest(int slot, bool arrival, int serverLast, WORD port, DWORD length = 64);
  void AddPresence(int serverLast);
  void AddDevice(int serverLast, WORD port, DWORD state, bool listed = false);
  DeviceEntry FindDevice(int serverLast, WORD port);
  SERVER_ARRIVALREMOVAL_INFO ServerSlot(int slot);
  DEVICE_ARRIVALREMOVAL_INFO DeviceSlot(int slot);

  std::unique_ptr<CTavrinAdminApp> app_;
  CTavrinAdminDoc* doc_ = nullptr;
  CMainFrame* frame_ = nullptr;
  std::unique_ptr<tavrin::test::KernelHostProcess> host_;  // the drivers
  std::vector<Box> boxes_;
  std::function<int(const Box&)> answer_;  // null: IDOK
  bool quit_ = false;
};

}  // namespace admin_doc_test
