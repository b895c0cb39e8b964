#include "server_core.h"

#include <algorithm>
#include <cstdio>

#include "ini/ini.h"
#include "services.h"
#include "tftp_client.h"
#include "zarnet/device_list.h"

namespace zarnet::sim {
namespace {

std::string FirmwareText(uint8_t major, uint8_t minor) {
  return std::to_string(major) + ".0.0." + std::to_string(minor);
}

std::string MacText(const std::array<uint8_t, 6>& mac) {
  char text[18];
  std::snprintf(text, sizeof(text), "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
  return text;
}

// The version an image carries in its name: "zarnet-update-MAJOR.x.y.MINOR...".
bool ImageVersion(const std::string& file, uint8_t* major, uint8_t* minor) {
  static const std::string kPrefix = "zarnet-update-";
  size_t at = file.find(kPrefix);
  if (at == std::string::npos) return false;
  std::string version = file.substr(at + kPrefix.size());
  unsigned a, b, c, d;
  if (std::sscanf(version.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d) != 4 || a > 255 || d > 255) return false;
  *major = static_cast<uint8_t>(a);
  *minor = static_cast<uint8_t>(d);
  return true;
}

}  // namespace

ServerCore::ServerCore(ServerOptions options, LogFunction log)
    : factory_(std::move(options)),
      log_(std::move(log)),
      fw_major_(factory_.fw_major),
      fw_minor_(factory_.fw_minor),
      broadcast_period_(factory_.broadcast_period) {
  factory_config_.server_model = factory_.model;
  factory_config_.fw_version = FirmwareText(factory_.fw_major, factory_.fw_minor);
  factory_config_.hw_version = factory_.hw_version;
  factory_config_.serial_no = factory_.serial_no;
  factory_config_.server_name = factory_.name;
  factory_config_.ip_address = factory_.ip_address.empty() ? factory_.address : factory_.ip_address;
  factory_config_.net_mask = factory_.net_mask;
  factory_config_.gate_way = factory_.gate_way;
  factory_config_.ip_config = factory_.ip_config;
  factory_config_.mac_addr = MacText(factory_.mac);
  factory_config_.password_enable = factory_.password_enable;
  factory_config_.password = factory_.password;
  config_ = factory_config_;
  devices_ = factory_.devices;
  faults_ = factory_.faults;
  if (auto to = net::MakeAddress(factory_.broadcast_address, factory_.broadcast_port)) broadcast_to_ = *to;

  services_.push_back(std::make_unique<DiscoveryResponder>(*this));
  services_.push_back(std::make_unique<CommandService>(*this));
  auto broadcaster = std::make_unique<Broadcaster>(*this);
  broadcaster_ = broadcaster.get();
  services_.push_back(std::move(broadcaster));
  services_.push_back(std::make_unique<DeviceDataService>(*this));
}

ServerCore::~ServerCore() { Stop(); }

void ServerCore::Log(const std::string& line) const {
  if (log_) log_(factory_.name + ": " + line);
}

bool ServerCore::Start(std::string* error) {
  Stop();
  auto address = net::MakeAddress(factory_.address, factory_.command_port);
  if (!address) {
    if (error) *error = factory_.name + ": bad address \"" + factory_.address + "\"";
    return false;
  }
  if (!net::MakeAddress(factory_.broadcast_address, factory_.broadcast_port)) {
    if (error) *error = factory_.name + ": bad broadcast address \"" + factory_.broadcast_address + "\"";
    return false;
  }
  bind_address_ = *address;
  uint16_t port = factory_.command_port;
  // A free port for both the TCP command service and the UDP discovery responder; the kernel's pick
  // only when none is free below its ephemeral range.
  if (port == 0) port = net::FreeLowPort(bind_address_, true);
  for (int attempt = 0; port == 0 && attempt < 50; ++attempt) {
    sockaddr_in any = bind_address_;
    net::Fd tcp = net::ListenTcp(any, error);
    if (!tcp.valid()) return false;
    any.sin_port = htons(net::LocalPort(tcp.get()));
    if (net::BindUdp(any, nullptr).valid()) port = ntohs(any.sin_port);
  }
  {
    std::lock_guard lock(mutex_);
    port_ = port;
    stopping_ = false;
    restart_requested_ = false;
    restarts_ = 0;
    negotiation_ = {};
    locked_ = config_.password_enable;
  }
  stop_.Reset();
  if (!StartServices(error)) {
    StopServices();
    return false;
  }
  {
    std::lock_guard lock(mutex_);
    started_ = true;
  }
  control_ = std::thread(&ServerCore::ControlLoop, this);
  Log("serving on " + net::AddressText(bind_address_) + ":" + std::to_string(port));
  return true;
}

void ServerCore::Stop() {
  {
    std::lock_guard lock(mutex_);
    if (!started_ && !control_.joinable()) return;
    stopping_ = true;
  }
  stop_.Set();
  changed_.notify_all();
  if (control_.joinable()) control_.join();
  StopServices();  // after this no command can start an upgrade
  if (upgrade_thread_.joinable()) upgrade_thread_.join();
  std::lock_guard lock(mutex_);
  started_ = false;
  if (upgrade_.state == UpgradeStatus::State::kRunning) upgrade_.state = UpgradeStatus::State::kFailed;
  ChangedLocked();
}

bool ServerCore::StartServices(std::string* error) {
  std::lock_guard services_lock(services_mutex_);
  for (auto& service : services_) {
    if (!service->Start(error)) {
      for (auto& started : services_) started->Stop();
      return false;
    }
  }
  std::lock_guard lock(mutex_);
  running_ = true;
  ChangedLocked();
  return true;
}

void ServerCore::StopServices() {
  std::lock_guard services_lock(services_mutex_);
  for (auto& service : services_) service->Stop();
  std::lock_guard lock(mutex_);
  running_ = false;
  ChangedLocked();
}

void ServerCore::RequestRestart() {
  std::lock_guard lock(mutex_);
  restart_requested_ = true;
  changed_.notify_all();
}

void ServerCore::ControlLoop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return stopping_ || restart_requested_; });
    if (stopping_) return;
    restart_requested_ = false;
    std::chrono::milliseconds delay = factory_.restart_delay;
    lock.unlock();
    Log("restarting");
    StopServices();
    bool go = net::SleepFor(stop_, delay);
    std::string error;
    while (go && !StartServices(&error)) {
      Log("restart failed: " + error);
      go = net::SleepFor(stop_, std::chrono::milliseconds(100));
    }
    lock.lock();
    if (!go) return;
    ++restarts_;
    locked_ = config_.password_enable;
    ChangedLocked();
  }
}

sockaddr_in ServerCore::command_address() const {
  std::lock_guard lock(mutex_);
  sockaddr_in address = bind_address_;
  address.sin_port = htons(port_);
  return address;
}

std::chrono::milliseconds ServerCore::request_timeout() const { return factory_.request_timeout; }

DiscoveryInfo ServerCore::discovery_info() const {
  std::lock_guard lock(mutex_);
  DiscoveryInfo info;
  info.model = config_.server_model;
  info.mac = factory_.mac;
  info.locked = locked_;
  info.fw_major = fw_major_;
  info.fw_minor = fw_minor_;
  info.name = config_.server_name;
  return info;
}

std::vector<uint8_t> ServerCore::device_list_datagram() const {
  std::vector<__dev_info__> entries;
  uint32_t id;
  {
    std::lock_guard lock(mutex_);
    id = factory_.server_id;
    for (const Device& d : devices_) {
      __dev_info__ e{};
      e.cid[0] = d.device_class;
      e.cid[1] = d.subclass;
      e.cid[2] = d.protocol;
      e.rev = d.rev;
      e.pid = d.pid;
      e.vid = d.vid;
      e.b_f = d.busy ? 1 : 0;
      e.portnum = d.port;
      e.speed = d.speed;
      e.numINT = d.interfaces;
      entries.push_back(e);
    }
  }
  return EncodeServerDeviceList(id, entries);
}

sockaddr_in ServerCore::broadcast_destination() const {
  std::lock_guard lock(mutex_);
  return broadcast_to_;
}

std::chrono::milliseconds ServerCore::broadcast_period() const {
  std::lock_guard lock(mutex_);
  return broadcast_period_;
}

std::vector<ConnectionTableEntry> ServerCore::ConnectionsLocked() const {
  std::vector<ConnectionTableEntry> table;
  for (const Device& d : devices_)
    if (d.busy && !d.client_ip.empty()) table.push_back({d.port, d.client_ip});
  return table;
}

void ServerCore::ApplyConfigurationLocked(const std::string& text) {
  const tavrin::ini::Document ini = tavrin::ini::Parse(text);
  auto get = [&](const char* section, const char* key) { return tavrin::ini::Value(ini, section, key); };
  auto take = [&](const char* section, const char* key, std::string& field) {
    if (auto value = get(section, key)) field = *value;
  };
  take("BasicSettings", "server_name", config_.server_name);
  take("NetworkSettings", "ip_address", config_.ip_address);
  take("NetworkSettings", "net_mask", config_.net_mask);
  take("NetworkSettings", "gate_way", config_.gate_way);
  take("NetworkSettings", "mac_addr", config_.mac_addr);
  if (auto value = get("NetworkSettings", "ip_config"))
    config_.ip_config = static_cast<uint32_t>(ParseDecimal(*value));
  if (auto value = get("Password", "enable")) config_.password_enable = ParseDecimal(*value) != 0;
  take("Password", "password", config_.password);
}

CommandOutcome ServerCore::Execute(const CommandRequest& request, const std::string& peer_ip) {
  CommandOutcome outcome;
  std::lock_guard lock(mutex_);
  switch (request.command) {
    case kCmdRestoreFactoryDefaults:
      config_ = factory_config_;
      config_.fw_version = FirmwareText(fw_major_, fw_minor_);
      outcome.status = RSP_STATUS_SUCCESS_RESET;
      break;
    case kCmdResetServer:
      outcome.status = RSP_STATUS_SUCCESS;
      outcome.after = CommandOutcome::After::kRestart;
      break;
    case kCmdUnLockServer:
      if (!config_.password_enable || request.data == config_.password) {
        locked_ = false;
        outcome.status = RSP_STATUS_SUCCESS;
      } else {
        outcome.status = RSP_STATUS_INVALID_PASSWORD;
      }
      break;
    case kCmdGetConfigInfo:
      outcome.status = RSP_STATUS_SUCCESS;
      outcome.data = FormatConfigurationText(config_, ConnectionsLocked());
      break;
    case kCmdSetConfigInfo:
      ApplyConfigurationLocked(request.data);
      outcome.status = RSP_STATUS_SUCCESS_RESET;
      break;
    case kCmdGetConnectedClientDetails:
      outcome.status = RSP_STATUS_SUCCESS;
      outcome.data = FormatConnectionTable(ConnectionsLocked());
      break;
    case kCmdGetIProdStringDesc: {
      if (request.subcommand != kSubCmdProductString) break;
      long port = ParseDecimal(request.data);
      auto it = std::find_if(devices_.begin(), devices_.end(), [&](const Device& d) { return d.port == port; });
      if (it == devices_.end()) {
        outcome.status = RSP_STATUS_DEVICE_NOT_FOUND;
      } else {
        outcome.status = RSP_STATUS_SUCCESS;
        outcome.data = EncodeProductString(it->product);
      }
      break;
    }
    case kCmdUpGradeFirmware:
      if (request.data.empty() || upgrade_.state == UpgradeStatus::State::kRunning) break;
      outcome.status = RSP_STATUS_SUCCESS;
      outcome.after = CommandOutcome::After::kUpgrade;
      break;
    default:
      break;
  }
  Log("command " + std::to_string(request.command) + " from " + peer_ip + ": STATUS " +
      std::to_string(outcome.status));
  return outcome;
}

void ServerCore::AfterResponse(const CommandRequest& request, const CommandOutcome& outcome,
                               const std::string& peer_ip) {
  {
    std::lock_guard lock(mutex_);
    ++answered_;
    ChangedLocked();
  }
  if (outcome.after == CommandOutcome::After::kRestart) RequestRestart();
  if (outcome.after == CommandOutcome::After::kUpgrade) StartUpgrade(peer_ip, request.data);
}

bool ServerCore::StartUpgrade(const std::string& client_ip, const std::string& file) {
  std::thread finished;
  {
    std::lock_guard lock(mutex_);
    if (stopping_ || upgrade_.state == UpgradeStatus::State::kRunning) return false;
    finished = std::move(upgrade_thread_);
    upgrade_ = UpgradeStatus{};
    upgrade_.state = UpgradeStatus::State::kRunning;
    upgrade_.file = file;
    upgrade_.client_ip = client_ip;
    ChangedLocked();
  }
  if (finished.joinable()) finished.join();  // it has already recorded its outcome
  std::lock_guard lock(mutex_);
  upgrade_thread_ = std::thread(&ServerCore::RunUpgrade, this, client_ip, file);
  return true;
}

void ServerCore::RunUpgrade(std::string client_ip, std::string file) {
  Log("fetching \"" + file + "\" by TFTP from " + client_ip + ":" + std::to_string(factory_.tftp_port));
  TftpOutcome fetched;
  auto server = net::MakeAddress(client_ip, factory_.tftp_port);
  if (server) {
    TftpOptions options{factory_.tftp_timeout, factory_.tftp_retries, factory_.max_image_size};
    fetched = TftpRead(bind_address_, *server, file, options, stop_);
  } else {
    fetched.message = "bad client address";
  }
  {
    std::lock_guard lock(mutex_);
    upgrade_.bytes = fetched.data.size();
    upgrade_.tftp_error = fetched.error_code;
    upgrade_.message = fetched.message;
    if (fetched.ok) {
      upgrade_.state = UpgradeStatus::State::kSucceeded;
      upgrade_.image = std::move(fetched.data);
      ImageVersion(file, &fw_major_, &fw_minor_);
      config_.fw_version = FirmwareText(fw_major_, fw_minor_);
    } else {
      upgrade_.state = UpgradeStatus::State::kFailed;
    }
    ChangedLocked();
  }
  Log(fetched.ok ? "upgrade image received (" + std::to_string(upgrade_.bytes) + " bytes)"
                 : "upgrade failed: " + fetched.message);
  if (fetched.ok) RequestRestart();  // the new firmware starts
}

std::vector<Fault> ServerCore::TakeFaults(const std::function<bool(const Fault&)>& hits) {
  std::lock_guard lock(mutex_);
  std::vector<Fault> taken;
  for (auto it = faults_.begin(); it != faults_.end();) {
    if (!hits(*it)) {
      ++it;
      continue;
    }
    taken.push_back(*it);
    if (it->times > 0 && --it->times == 0) {
      it = faults_.erase(it);
    } else {
      ++it;
    }
  }
  return taken;
}

std::vector<Fault> ServerCore::TakeAcceptFaults() {
  return TakeFaults([](const Fault& f) {
    return f.target == FaultTarget::kCommand && f.kind == FaultKind::kEarlyClose && f.command == 0;
  });
}

std::vector<Fault> ServerCore::TakeResponseFaults(uint32_t command) {
  return TakeFaults([command](const Fault& f) {
    if (f.target != FaultTarget::kCommand) return false;
    if (f.kind == FaultKind::kEarlyClose && f.command == 0) return false;
    return f.command == 0 || f.command == command;
  });
}

std::vector<Fault> ServerCore::TakeDataFaults(uint8_t id) {
  return TakeFaults([id](const Fault& f) { return f.target == FaultTarget::kData && (f.step < 0 || f.step == id); });
}

sockaddr_in ServerCore::data_address() const {
  sockaddr_in address = bind_address_;
  address.sin_port = htons(factory_.data_port);
  return address;
}

void ServerCore::SetBoundDataPort(uint16_t port) {
  std::lock_guard lock(mutex_);
  data_port_ = port;
}

uint16_t ServerCore::data_port() const {
  std::lock_guard lock(mutex_);
  return data_port_;
}

bool ServerCore::IsDeviceFree(uint16_t port) const {
  std::lock_guard lock(mutex_);
  auto it = std::find_if(devices_.begin(), devices_.end(), [&](const Device& d) { return d.port == port; });
  return it != devices_.end() && !it->busy;
}

std::optional<Device> ServerCore::ClaimDevice(uint16_t port, const std::string& client_ip) {
  std::lock_guard lock(mutex_);
  auto it = std::find_if(devices_.begin(), devices_.end(), [&](const Device& d) { return d.port == port; });
  if (it == devices_.end() || it->busy) return std::nullopt;
  it->busy = true;
  it->client_ip = client_ip;
  ++negotiation_.granted;
  ChangedLocked();
  return *it;
}

void ServerCore::ReleaseDevice(uint16_t port) {
  std::lock_guard lock(mutex_);
  auto it = std::find_if(devices_.begin(), devices_.end(), [&](const Device& d) { return d.port == port; });
  if (it != devices_.end()) {
    it->busy = false;
    it->client_ip.clear();
  }
  ++negotiation_.sessions_ended;
  ChangedLocked();
}

void ServerCore::CountNegotiation(const std::function<void(NegotiationStats&)>& change) {
  std::lock_guard lock(mutex_);
  change(negotiation_);
  ChangedLocked();
}

NegotiationStats ServerCore::negotiation() const {
  std::lock_guard lock(mutex_);
  return negotiation_;
}

void ServerCore::SetDataSessionHandler(DataSessionHandler handler) {
  std::lock_guard lock(mutex_);
  data_handler_ = std::move(handler);
}

DataSessionHandler ServerCore::data_session_handler() const {
  std::lock_guard lock(mutex_);
  return data_handler_;
}

std::vector<Fault> ServerCore::TakeDatagramFaults(FaultTarget target) {
  return TakeFaults([target](const Fault& f) { return f.target == target; });
}

uint16_t ServerCore::command_port() const {
  std::lock_guard lock(mutex_);
  return port_;
}

bool ServerCore::running() const {
  std::lock_guard lock(mutex_);
  return running_;
}

int ServerCore::restarts() const {
  std::lock_guard lock(mutex_);
  return restarts_;
}

void ServerCore::Plug(const Device& device) {
  std::lock_guard lock(mutex_);
  auto it = std::find_if(devices_.begin(), devices_.end(), [&](const Device& d) { return d.port == device.port; });
  if (it != devices_.end()) {
    *it = device;
  } else {
    devices_.push_back(device);
  }
  if (auto usb = usb_devices_.find(device.port); usb != usb_devices_.end()) {
    usb->second->Unplug();  // a session still serving the old one sees it gone
    usb_devices_.erase(usb);
  }
  ChangedLocked();
}

bool ServerCore::Unplug(uint16_t port) {
  std::lock_guard lock(mutex_);
  auto it = std::find_if(devices_.begin(), devices_.end(), [&](const Device& d) { return d.port == port; });
  if (it == devices_.end()) return false;
  devices_.erase(it);
  if (auto usb = usb_devices_.find(port); usb != usb_devices_.end()) {
    usb->second->Unplug();
    usb_devices_.erase(usb);
  }
  ChangedLocked();
  return true;
}

bool ServerCore::SetBusy(uint16_t port, bool busy, const std::string& client_ip) {
  std::lock_guard lock(mutex_);
  auto it = std::find_if(devices_.begin(), devices_.end(), [&](const Device& d) { return d.port == port; });
  if (it == devices_.end()) return false;
  it->busy = busy;
  it->client_ip = busy ? client_ip : std::string();
  ChangedLocked();
  return true;
}

std::vector<Device> ServerCore::devices() const {
  std::lock_guard lock(mutex_);
  return devices_;
}

void ServerCore::SetBroadcastDestination(const std::string& address, uint16_t port) {
  auto to = net::MakeAddress(address, port);
  if (!to) return;
  std::lock_guard lock(mutex_);
  broadcast_to_ = *to;
  ChangedLocked();
}

void ServerCore::SetBroadcastPeriod(std::chrono::milliseconds period) {
  {
    std::lock_guard lock(mutex_);
    broadcast_period_ = std::max(period, std::chrono::milliseconds(1));
    ChangedLocked();
  }
  broadcaster_->PeriodChanged();
}

void ServerCore::BroadcastNow() { broadcaster_->SendNow(); }

void ServerCore::AddFault(const Fault& fault) {
  std::lock_guard lock(mutex_);
  faults_.push_back(fault);
}

void ServerCore::ClearFaults() {
  std::lock_guard lock(mutex_);
  faults_.clear();
}

ServerConfiguration ServerCore::configuration() const {
  std::lock_guard lock(mutex_);
  return config_;
}

bool ServerCore::locked() const {
  std::lock_guard lock(mutex_);
  return locked_;
}

UpgradeStatus ServerCore::upgrade() const {
  std::lock_guard lock(mutex_);
  return upgrade_;
}

int ServerCore::commands_answered() const {
  std::lock_guard lock(mutex_);
  return answered_;
}

void ServerCore::ChangedLocked() { changed_.notify_all(); }

bool ServerCore::WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) const {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (pred()) return true;
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::min<std::chrono::steady_clock::duration>(deadline - now, std::chrono::milliseconds(10)));
  }
}

}  // namespace zarnet::sim
