// The application in the test's thread with its main frame and panes, the document's lists ready (as
// while mapping runs, without the drivers), message boxes answered by the test, and helpers that put
// servers and devices into the lists as the broadcast listener and the drivers' answers would.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "admin/TavrinAdminApp.h"
#include "admin/TavrinAdminDoc.h"
#include "admin/ui/BottemFormView.h"
#include "admin/ui/DetailsFormView.h"
#include "admin/ui/FunctionView.h"
#include "admin/ui/MainFrame.h"
#include "testsupport/sysroot.h"

namespace panes_test {

struct Box {
  std::string text;
  UINT type;
};

std::string Ip(int last);  // "127.0.0.<last>"

class PanesTest : public tavrin::test::SysrootTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A server heard on the network whose last request (arrival or departure) has these status bits.
  void AddServer(int last, DWORD status, bool arrival = true);
  // A device of that server, its product string fetched (name empty: none).
  DeviceEntry& AddDevice(int last, WORD port, BYTE deviceClass, WORD vid, WORD pid, const char* name = "");
  DeviceEntry Device(int last, WORD port);
  // The functional pane's refresh of both lists, as timer 3 runs it (without the ageing).
  void ShowLists();

  std::unique_ptr<CTavrinAdminApp> app_;
  CTavrinAdminDoc* doc_ = nullptr;
  CMainFrame* frame_ = nullptr;
  CFunctionView* functions_ = nullptr;
  CDetailsFormView* details_ = nullptr;
  CBottemFormView* log_ = nullptr;
  std::vector<Box> boxes_;
};

}  // namespace panes_test
