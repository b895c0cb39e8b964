// A server's configuration: parsing the command 4 text, the configuration window's actions and the
// worker that sends command 5.
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "TavrinMac/serverManager.h"
#include "TavrinMac/sockets.h"
#include "cocoa/mac_root.h"

namespace {

// The value after an '=': up to the line end (or the text's end).
size_t ValueEnd(const char* text, size_t from, size_t length) {
  size_t end = from;
  while (end < length && text[end] != '\n' && text[end] != '\r') ++end;
  return end;
}

std::atomic<int> g_fileCounter{0};

void Alert(const std::string& title, const std::string& message) { tavrinmac::Ui().Alert({title, message, {"Ok"}}); }

}  // namespace

serverdata* serverManager::add_to_struct(const char* text, int) {
  if (!text) return nullptr;
  const size_t length = strlen(text);
  if (length < 10) return nullptr;
  auto* record = static_cast<serverdata*>(calloc(1, sizeof(serverdata)));
  const bool hasTable = strstr(text, "[ConnectionTable]") != nullptr;
  int n = 0;
  for (size_t i = 0; i < length && n < 12; ++i) {
    if (text[i] != '=') continue;
    ++n;
    const size_t from = i + 1;
    size_t end = ValueEnd(text, from, length);
    const char* value = text + from;
    const size_t size = end - from;
    switch (n) {
      case 1: CopyField(record->server_model, value, size); break;
      case 2: CopyField(record->fw_version, value, size); break;
      case 3: CopyField(record->hw_version, value, size); break;
      case 4: {
        uint32_t number = 0;
        end = from;
        for (; end < length && end < from + 6 && isdigit(static_cast<unsigned char>(text[end])); ++end)
          number = number * 10 + static_cast<uint32_t>(text[end] - '0');
        record->serial_no = number;
        break;
      }
      case 5: CopyField(record->server_name, value, size); break;
      case 6: CopyField(record->ip_address, value, size); break;
      case 7: CopyField(record->net_mask, value, size); break;
      case 8: CopyField(record->gate_way, value, size); break;
      case 9:
        record->ip_config = from < length ? text[from] : 0;
        end = from < length ? from + 1 : from;
        break;
      case 10:
        CopyField(record->mac_addr, value, size);
        if (hasTable) {
          // Past the end of "[ConnectionTable]" and of "[Password]": the table's pairs are not counted.
          for (int brackets = 0; end < length && brackets < 2; ++end)
            if (text[end] == ']') ++brackets;
        }
        break;
      case 11:
        record->enable = from < length ? text[from] : 0;
        end = from < length ? from + 1 : from;
        break;
      case 12: CopyField(record->password, value, size); break;
    }
    i = end > 0 ? end - 1 : 0;
  }
  return record;
}

namespace tavrinmac {
namespace {
std::mutex g_directoryMutex;
std::string g_directory = "/private/var/root";
}  // namespace
void SetWorkingDirectory(const std::string& macPath) {
  std::lock_guard lock(g_directoryMutex);
  g_directory = macPath;
}
std::string WorkingDirectory() {
  std::lock_guard lock(g_directoryMutex);
  return g_directory;
}
}  // namespace tavrinmac

void serverManager::set_data_toFile(const char* text, int number) {
  const int sum = g_fileCounter++ + number;
  if (sum > 1233 || !text) return;
  NSString* path = NSString::stringWithFormat("%s/TavrinFile%d.txt", tavrinmac::WorkingDirectory().c_str(), sum);
  NSFileManager::defaultManager()->removeFileAtPath_handler(path, nullptr);
  NSString::stringWithUTF8String(text)->writeToFile_atomically(path, NO);
}

int checkIpFormat(const char* text) {
  if (!text || !*text) return 1;
  int parts = 0;
  long value = -1;  // -1: no digit in this part yet
  for (const char* c = text;; ++c) {
    if (*c == '.' || *c == 0) {
      if (value < 0 || value > 255) return 1;
      ++parts;
      value = -1;
      if (*c == 0) break;
    } else if (isdigit(static_cast<unsigned char>(*c))) {
      value = (value < 0 ? 0 : value) * 10 + (*c - '0');
      if (value > 255) return 1;
    } else if (*c != ' ') {
      return 1;
    }
  }
  return parts == 4 ? 0 : 1;
}

void serverManager::serverConfiguration_class(id sender) {
  ServerNode* server = selectedServer();
  if (!server) return;
  if (server->passwordSet() == 1) {
    server->release();
    unlockAction_class(sender);
    return;
  }
  if (server->clientsChecked() == 2) {
    Alert("Server Manager:", "Information Not Available");
  } else if (serverdata* d = server->getConfigurationData(); !d) {
    Alert("Alert", "Information Not Available\n");
  } else {
    {
      std::lock_guard guard(lock());
      ConfigForm& f = form();
      f.informationText = cocoa::Format(
          "\nServerMode: %s \n\nFw_vers: %s \n\nHw_vers: %s \n\nServerName: %s  \n\nIpAddress: %s \n\nMac Address: %s "
          "\n\nNetMask: %s \n\nGateway: %s \n\nIpConfig: %c \n\nPwd_Enable: %c",
          d->server_model, d->fw_version, d->hw_version, d->server_name, d->ip_address, d->mac_addr, d->net_mask,
          d->gate_way, d->ip_config, d->enable);
      f.ipAddressText = d->ip_address;
      f.subnetMaskText = d->net_mask;
      f.gatewayText = d->gate_way;
      f.basicSettingsText = d->server_name;
      f.enablePwd = d->enable == '1';
      f.ipConfigText = d->ip_config == '0' ? "DHCP" : "Static";
      f.selectedIndex = selectedRow();
      f.modifyBasicSettings = f.modifyIPSettings = f.modifyPwdEnable = f.modifyPwdSet = false;
      f.progressShown = false;
      f.fieldsEnabled = false;
    }
    tavrinmac::Ui().Changed(tavrinmac::View::kConfigWindow);
  }
  server->release();
}

void serverManager::modifyBSAction(id) { tavrinmac::Ui().Changed(tavrinmac::View::kConfigWindow); }
void serverManager::modifyPwdAction(id) { tavrinmac::Ui().Changed(tavrinmac::View::kConfigWindow); }
void serverManager::modifyIPAddressAction(id) { tavrinmac::Ui().Changed(tavrinmac::View::kConfigWindow); }

void serverManager::modifyNewPwdAction(id) {
  {
    std::lock_guard guard(lock());
    if (form().modifyPwdSet) form().newPwdText.clear(), form().confirmPwdText.clear();
  }
  tavrinmac::Ui().Changed(tavrinmac::View::kConfigWindow);
}

void serverManager::serverConfigOkAction(id) {
  ConfigForm f;
  {
    std::lock_guard guard(lock());
    f = form();
  }
  const bool bs = f.modifyBasicSettings, ip = f.modifyIPSettings, pe = f.modifyPwdEnable, ps = f.modifyPwdSet;
  if (!bs && !ip && !pe && !ps) return Alert("Pelko Admin", "No Modifications !!!");
  if (ps && f.newPwdText.empty()) return Alert("Error:", "Invalid Password(Nil)!!!");
  if (f.newPwdText != f.confirmPwdText) {
    {
      std::lock_guard guard(lock());
      form().newPwdText.clear();
      form().confirmPwdText.clear();
    }
    Alert("Error:", "Invalid Password!!!");
    tavrinmac::Ui().Changed(tavrinmac::View::kConfigWindow);
    return;
  }
  ServerNode* server = selectedServer();
  if (!server) return;
  if (!server->getConfigurationData()) {
    server->release();
    return Alert("Alert", "Information Not Available\n");
  }
  // The changes go into a copy: the server's record takes them once the server has agreed.
  serverdata changed = *server->getConfigurationData();
  std::string text;
  if (bs) {
    text = cocoa::Format("[BasicSettings]\nserver_name=%s\n", f.basicSettingsText.c_str());
    CopyField(changed.server_name, f.basicSettingsText.c_str(), f.basicSettingsText.size());
  }
  if (ip) {
    if (checkIpFormat(f.ipAddressText.c_str()) || checkIpFormat(f.subnetMaskText.c_str()) ||
        checkIpFormat(f.gatewayText.c_str())) {
      server->release();
      Alert("Alert", "The subnet mask must consist of 4 numbers from 0 to 255, separated by periods.");
      tavrinmac::Ui().OrderOut(tavrinmac::View::kSearchWindow);
      return;
    }
    const int dhcp = f.ipConfigText == "DHCP" ? 0 : 1;
    text += cocoa::Format("[NetworkSettings]\nip_address=%s\nnet_mask=%s\ngate_way=%s\nip_config=%d\n",
                          f.ipAddressText.c_str(), f.subnetMaskText.c_str(), f.gatewayText.c_str(), dhcp);
    CopyField(changed.ip_address, f.ipAddressText.c_str(), f.ipAddressText.size());
    CopyField(changed.net_mask, f.subnetMaskText.c_str(), f.subnetMaskText.size());
    CopyField(changed.gate_way, f.gatewayText.c_str(), f.gatewayText.size());
    changed.ip_config = dhcp ? '1' : '0';
  }
  if (ps || pe) {
    if (ps && pe)
      text += cocoa::Format("[Password]\nenable=%d\npassword=%s\n", f.enablePwd ? 1 : 0, f.newPwdText.c_str());
    else if (ps)
      text += cocoa::Format("[Password]\nenable=%c\npassword=%s\n", changed.enable, f.newPwdText.c_str());
    else
      text += cocoa::Format("[Password]\nenable=%d\npassword=%s\n", f.enablePwd ? 1 : 0, changed.password);
    changed.enable = f.enablePwd ? '1' : '0';
    if (ps) CopyField(changed.password, f.newPwdText.c_str(), f.newPwdText.size());
  }
  const std::string address = server->recvIpAddres();
  int answer = tavrinmac::Ui().Alert(
      {"Pelko Admin", cocoa::Format("Changing configuration settings for %s", address.c_str()), {"Ok", "Cancel"}});
  if (answer != 0) {
    printf("cString - \n%s\n", text.c_str());
    server->release();
    return;
  }
  {
    std::lock_guard guard(lock());
    ConfigForm& live = form();
    live.fieldsEnabled = false;
    live.modifyBasicSettings = live.modifyIPSettings = live.modifyPwdEnable = live.modifyPwdSet = false;
    live.progressShown = true;
  }
  tavrinmac::Ui().Changed(tavrinmac::View::kConfigWindow);
  StartWorker([server, text, changed] {
    setConfiguration(server, text, changed);
    server->release();
  });
}

void serverManager::setConfiguration(ServerNode* server, std::string text, serverdata changed) {
  NSAutoreleasePool* pool = alloc<NSAutoreleasePool>()->init();
  const std::string address = server->recvIpAddres();
  if (int s = createTCPSocket(address.c_str())) {
    bool agreed;
    {
      std::lock_guard exchange(exchangeLock());
      globalStatus = 0;
      set_command(5, text.c_str(), s, address.c_str());
      agreed = globalStatus == 1;
    }
    if (agreed) {
      std::lock_guard guard(lock());
      if (serverdata* d = server->getConfigurationData()) *d = changed;
    }
    tavrinmac::ServerLog(agreed ? " %s Configuration Changed Succesfully" : " %s Configuration Changed Not Success",
                         address.c_str());
  } else {
    tavrinmac::ServerLog(" %s Configuration Failed by Network", address.c_str());
  }
  {
    std::lock_guard guard(lock());
    form().progressShown = false;
  }
  tavrinmac::Ui().OrderOut(tavrinmac::View::kConfigWindow);
  tavrinmac::Ui().Changed(tavrinmac::View::kServersTable);
  pool->drain();
}
