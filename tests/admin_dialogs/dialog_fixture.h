// Shared pieces of the dialog tests: a fresh sysroot with Windows Sockets started, fast command settings,
// simulated servers on 127.0.0.N at one port of the test's own, and the message boxes' answers.
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "admin/TavrinAdminDoc.h"
#include "admin/comm/CommSettings.h"
#include "testsupport/sysroot.h"
#include "win32/dialog.h"
#include "win32/user.h"
#include "zarnet/sim/simulator.h"

// Posts `close` to itself once it is up (for the configuration: once its pages are filled), noting where
// it stood on the screen then.
template <class Dialog>
class Closing : public Dialog {
 public:
  using Dialog::Dialog;
  UINT closeAfter = WM_INITDIALOG;  // the message after whose handling the command goes
  WPARAM close = IDCANCEL;
  RECT placed{};

  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    const LRESULT result = Dialog::WindowProc(message, wParam, lParam);
    if (message == closeAfter) {
      this->GetWindowRect(&placed);
      this->PostMessage(WM_COMMAND, close, 0);
    }
    return result;
  }
};

struct ShownMessageBox {
  std::string text;
  UINT type;
};

class DialogTest : public tavrin::test::SysrootTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  using Adjust = std::function<void(int n, zarnet::sim::ServerOptions&)>;
  // Servers 127.0.0.first .. first+count-1 on one port (commands and discovery) free on all of them;
  // server n's options pass `adjust` first.
  void StartServers(int first, int count, const Adjust& adjust = nullptr);
  // Commands that wait for a live server's answer get the product's receive time, for a busy computer.
  static void PatientCommands();
  // The discovery list of those servers, for the settings' address.
  std::string ServerAddresses() const;
  WORD port() const { return port_; }

  zarnet::sim::Simulator simulator_;
  std::vector<ShownMessageBox> boxes_;
  int boxAnswer_ = IDOK;

 private:
  ServerCommSettings saved_;
  WORD port_ = 0;
  int first_ = 0, count_ = 0;
};

// What the Server Manager's dialogs are opened on: server 127.0.0.n selected, nothing discovered yet, and a
// document (whose events and locks the test makes).
struct DialogLists {
  explicit DialogLists(int n);
  SelectedServerList servers;
  ServerDiscoveryList found;
  CTavrinAdminDoc doc;
};

// How the tests open a dialog of the Server Manager: modal over `parent`, on `lists`, closed by its own
// command once it is up (see Closing).
struct DialogOpening {
  struct Outcome {
    INT_PTR result;  // DoModal's
    RECT placed;
  };
  const char* name;
  INT_PTR closedWith;  // what DoModal answers to that command
  std::function<Outcome(DialogLists& lists, CWnd* parent)> open;
};
// Every dialog of the Server Manager, each once.
const std::vector<DialogOpening>& ServerManagerDialogs();
