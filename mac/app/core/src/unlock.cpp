// Unlocking a locked server with its password (command 3) from the modal unlock window.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "TavrinMac/serverManager.h"
#include "cocoa/bsd.h"

namespace {

using tavrinmac::ServerLog;
using tavrinmac::Ui;
using tavrinmac::View;

constexpr size_t kPasswordBuffer = 112;

void ChangeUnlock(const std::function<void(ServerManagerView&)>& change) {
  {
    std::lock_guard guard(serverManager::lock());
    change(serverManager::view());
  }
  Ui().Changed(View::kUnlockWindow);
}

void NoticeAlert(const char* message) { Ui().Alert({"Server Manager:", message, {"Ok"}}); }

// The window leaves its working state and closes; the line (if any) goes to the log.
void EndUnlock(const std::string& line) {
  Ui().OrderOut(View::kUnlockWindow);
  ChangeUnlock([](ServerManagerView& v) {
    v.retrieveProgress = false;
    v.unlockingShown = false;
  });
  if (!line.empty()) ServerLog("%s", line.c_str());
  Ui().EndModal(View::kUnlockWindow, 1);
}

}  // namespace

void serverManager::unlockAction(id) {
  ServerNode* server = selectedServer();
  if (!server) return;
  if (server->serverChecked() == 5) {
    server->release();
    return NoticeAlert("Unable to Unlock, serverInfo Not Checked");
  }
  if (server->passwordSet() == 0) {
    server->release();
    return NoticeAlert("Unable to Unlock, password Not Set");
  }
  const std::string address = server->recvIpAddres();
  server->release();
  ChangeUnlock([&](ServerManagerView& v) {
    v.unlockTextEnabled = true;
    v.unlockOkEnabled = false;
    v.unlockCancelEnabled = true;
    v.retrieveProgress = false;
    v.unlockText.clear();
    v.unlockingText.clear();
    v.unlockDisplay = cocoa::Format("Unlocking %s", address.c_str());
  });
  Ui().RunModal(View::kUnlockWindow);
}

void serverManager::unlockAction_class(id) {
  ServerNode* server = selectedServer();
  if (!server) return;
  const bool busy = server->clientsChecked() == 2;
  server->release();
  if (busy) return NoticeAlert("Unable to Unlock");
  ChangeUnlock([](ServerManagerView& v) {
    v.unlockTextEnabled = true;
    v.unlockCancelEnabled = true;
    v.unlockText.clear();
    v.unlockOkEnabled = false;  // the field is empty again: a new password must be typed
    v.retrieveProgress = false;
    v.unlockingText.clear();
  });
  Ui().RunModal(View::kUnlockWindow);
}

void serverManager::unlockTextDidChange(const std::string& text) {
  NSString* typed = NSString::stringWithStd(text);
  const bool something = typed->stringByTrimmingCharactersInSet(NSCharacterSet::whitespaceCharacterSet())->length() > 0;
  ChangeUnlock([&](ServerManagerView& v) {
    v.unlockText = text;
    v.unlockOkEnabled = something;
  });
}

void serverManager::unlockOkAction(id) {
  std::string password;
  {
    std::lock_guard guard(lock());
    password = view().unlockText.substr(0, kPasswordBuffer - 1);
  }
  ChangeUnlock([](ServerManagerView& v) {
    v.retrieveProgress = true;
    v.unlockTextEnabled = false;
    v.unlockingShown = true;
    v.unlockCancelEnabled = false;
  });
  ServerNode* server = selectedServer();
  if (!server) return EndUnlock("");
  if (server->clientsChecked() == 2) {
    const std::string address = server->recvIpAddres();
    server->release();
    return EndUnlock(cocoa::Format("%s: Unlock Failed", address.c_str()));  // the window does not stay working
  }
  StartWorker([server, password] {
    unlock(server, password);
    server->release();
  });
}

void serverManager::unlockCancelAction(id) {
  Ui().OrderOut(View::kUnlockWindow);
  Ui().EndModal(View::kUnlockWindow, 0);
}

void serverManager::unlock(ServerNode* server, std::string password) {
  NSAutoreleasePool* pool = alloc<NSAutoreleasePool>()->init();
  int s = bsd::socket(AF_INET, SOCK_STREAM, 0);
  if (s < 0) {
    printf("Client: socket failed: %d\n", errno);
    EndUnlock("Socket Failed");
    pool->drain();
    return;
  }
  const std::string address = server->recvIpAddres();
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(1341);
  to.sin_addr.s_addr = bsd::inet_addr(address.c_str());
  ChangeUnlock([&](ServerManagerView& v) { v.unlockingText = cocoa::Format("Unlocking %s, Please Wait..", address.c_str()); });
  server->setClientChecked(2);
  if (bsd::connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0) {
    printf("Client: connect failed: %d\n", errno);
    bsd::close(s);
    EndUnlock(cocoa::Format("%s Unlocked Failed by Network", address.c_str()));
    pool->drain();
    return;
  }
  server->setClientChecked(1);
  printf("after connect");
  bool accepted;
  {
    std::lock_guard exchange(exchangeLock());
    globalStatus = 0;
    set_command(3, password.c_str(), s, address.c_str());
    accepted = globalStatus == 1;
  }
  if (accepted) {
    // The commands of an unlocked server are offered only once the server has agreed.
    {
      std::lock_guard guard(lock());
      ServerManagerView& v = view();
      v.unlockItems = false;
      v.configItems = v.upgradeItems = v.restoreItems = true;
    }
    searchGlobal = configGlobal = upgradeGlobal = 1;
    Ui().Changed(View::kServerItems);
    Ui().Changed(View::kToolbar);
  }
  ChangeUnlock([](ServerManagerView& v) {
    v.retrieveProgress = false;
    v.unlockingShown = false;
  });
  if (accepted) {
    server->setPwd(0);
    ServerLog("%s Unlocked\n", address.c_str());
    Ui().Changed(View::kServersTable);
  } else {
    unlockAction_class(nullptr);  // offered again; waits for that run to end
  }
  Ui().OrderOut(View::kUnlockWindow);
  Ui().EndModal(View::kUnlockWindow, 1);
  pool->drain();
}
