// The state of one simulated server and the services that give it a face on the network.
#pragma once
#include <netinet/in.h>

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "net.h"
#include "zarnet/command.h"
#include "zarnet/config_text.h"
#include "zarnet/discovery.h"
#include "zarnet/sim/server.h"
#include "zarnet/sim/usb_device.h"

namespace zarnet::sim {

// One network service of a server. The server holds a list of them (discovery, commands, broadcasts,
// and later the device-data port); a reset stops and starts them all.
class Service {
 public:
  virtual ~Service() = default;
  virtual const char* name() const = 0;
  // Binds its sockets and starts its threads.
  virtual bool Start(std::string* error) = 0;
  // Wakes and joins its threads and closes its sockets.
  virtual void Stop() = 0;
};

class Broadcaster;

// What a command did, and what follows once its response has gone out.
struct CommandOutcome {
  enum class After { kNothing, kRestart, kUpgrade };
  uint32_t status = RSP_STATUS_INVALID_COMMAND;
  std::string data;
  After after = After::kNothing;
};

class ServerCore {
 public:
  ServerCore(ServerOptions options, LogFunction log);
  ~ServerCore();

  bool Start(std::string* error);
  void Stop();

  // For the services.
  void Log(const std::string& line) const;
  sockaddr_in command_address() const;  // bound address, actual port
  sockaddr_in data_address() const;     // bound address, data port as configured (0: any)
  void SetBoundDataPort(uint16_t port);
  // Device data: the free test, the claim (marks the device busy for client_ip; false when it is
  // missing or busy), the release at the end of the claimed connection, the counters.
  bool IsDeviceFree(uint16_t port) const;
  std::optional<Device> ClaimDevice(uint16_t port, const std::string& client_ip);
  void ReleaseDevice(uint16_t port);
  void CountNegotiation(const std::function<void(NegotiationStats&)>& change);
  DataSessionHandler data_session_handler() const;
  // USB data of a claimed connection, served by the port's virtual device (the default handler).
  void ServeUsbData(const DataSession& session);
  std::shared_ptr<VirtualUsbDevice> UsbDevice(uint16_t port);  // made on first use; none without a device
  std::vector<Fault> TakeUsbFaults(uint32_t response_command);
  std::vector<Fault> TakeDataFaults(uint8_t id);
  std::chrono::milliseconds request_timeout() const;
  DiscoveryInfo discovery_info() const;
  std::vector<uint8_t> device_list_datagram() const;
  sockaddr_in broadcast_destination() const;
  std::chrono::milliseconds broadcast_period() const;
  CommandOutcome Execute(const CommandRequest& request, const std::string& peer_ip);
  void AfterResponse(const CommandRequest& request, const CommandOutcome& outcome, const std::string& peer_ip);
  // Faults hitting this event, each counted once. A connection just accepted takes only the early-close
  // faults for any command; an answer to command N takes the other faults for N or for any command.
  std::vector<Fault> TakeAcceptFaults();
  std::vector<Fault> TakeResponseFaults(uint32_t command);
  std::vector<Fault> TakeDatagramFaults(FaultTarget target);

  // For Server's public face.
  const ServerOptions& options() const { return factory_; }
  uint16_t command_port() const;
  uint16_t data_port() const;
  void SetDataSessionHandler(DataSessionHandler handler);
  NegotiationStats negotiation() const;
  bool running() const;
  int restarts() const;
  void Plug(const Device& device);
  bool Unplug(uint16_t port);
  bool SetBusy(uint16_t port, bool busy, const std::string& client_ip);
  std::vector<Device> devices() const;
  void SetBroadcastDestination(const std::string& address, uint16_t port);
  void SetBroadcastPeriod(std::chrono::milliseconds period);
  void BroadcastNow();
  void AddFault(const Fault& fault);
  void ClearFaults();
  ServerConfiguration configuration() const;
  bool locked() const;
  UpgradeStatus upgrade() const;
  int commands_answered() const;
  bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) const;

 private:
  std::vector<ConnectionTableEntry> ConnectionsLocked() const;
  void ApplyConfigurationLocked(const std::string& text);
  void ChangedLocked();
  bool StartServices(std::string* error);
  void StopServices();
  void RequestRestart();
  void ControlLoop();
  bool StartUpgrade(const std::string& client_ip, const std::string& file);
  void RunUpgrade(std::string client_ip, std::string file);
  std::vector<Fault> TakeFaults(const std::function<bool(const Fault&)>& hits);

  const ServerOptions factory_;
  const LogFunction log_;
  ServerConfiguration factory_config_;
  sockaddr_in bind_address_{};

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  ServerConfiguration config_;
  uint8_t fw_major_, fw_minor_;
  bool locked_ = false;
  std::vector<Device> devices_;
  std::vector<Fault> faults_;
  sockaddr_in broadcast_to_{};
  std::chrono::milliseconds broadcast_period_;
  uint16_t port_ = 0;
  uint16_t data_port_ = 0;
  DataSessionHandler data_handler_;
  std::map<uint16_t, std::shared_ptr<VirtualUsbDevice>> usb_devices_;  // by port, as long as plugged
  NegotiationStats negotiation_;
  bool running_ = false;
  bool started_ = false;
  bool stopping_ = false;
  bool restart_requested_ = false;
  int restarts_ = 0;
  int answered_ = 0;
  UpgradeStatus upgrade_;

  std::mutex services_mutex_;  // start and stop of the services, never held with mutex_
  std::vector<std::unique_ptr<Service>> services_;
  Broadcaster* broadcaster_ = nullptr;  // one of services_
  net::StopSignal stop_;               // ends the control and upgrade threads' waits
  std::thread control_;
  std::thread upgrade_thread_;
};

}  // namespace zarnet::sim
