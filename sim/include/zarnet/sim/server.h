// One simulated network USB server: discovery responder (UDP), command service (TCP), device-list
// broadcaster (UDP); firmware upgrades fetched by TFTP. Every setting can be changed while it runs.
#pragma once
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "zarnet/config_text.h"
#include "zarnet/ports.h"
#include "zarnet/sim/faults.h"

namespace zarnet::sim {

using LogFunction = std::function<void(const std::string& line)>;

// One USB device plugged into the server.
struct Device {
  uint16_t port = 1;  // the server's USB port
  uint8_t device_class = 0;
  uint8_t subclass = 0;
  uint8_t protocol = 0;
  uint16_t vid = 0;
  uint16_t pid = 0;
  uint16_t rev = 0;
  uint8_t speed = 2;
  uint8_t interfaces = 1;
  bool busy = false;      // some computer holds it
  std::string client_ip;  // that computer, listed by the connection table
  std::string product;    // its product string (command 7)
  // The virtual device that answers its USB data (usb_device.h): loopback, printer, keyboard or composite;
  // empty: chosen by its class.
  std::string usb_device;
  std::string manufacturer;  // its manufacturer string
  std::string print_file;    // a printer's jobs; relative to the server's folder
};

struct ServerOptions {
  std::string name = "Zarnet";
  std::string address = "0.0.0.0";           // every service binds here
  uint16_t command_port = kCommandPort;      // TCP commands and UDP discovery; 0: a free port
  uint16_t data_port = kDataPort;            // TCP device data (negotiation, then USB); 0: a free port
  uint32_t server_id = 0;
  uint8_t model = 0;
  std::array<uint8_t, 6> mac{};
  uint8_t fw_major = 1;
  uint8_t fw_minor = 0;
  std::string hw_version = "1.0";
  uint32_t serial_no = 0;
  std::string ip_address;                    // reported; empty: the bound address
  std::string net_mask = "255.255.255.0";
  std::string gate_way;
  uint32_t ip_config = 0;
  bool password_enable = false;              // a server with a password starts locked
  std::string password;

  std::string broadcast_address = kBroadcastAddress;
  uint16_t broadcast_port = kDeviceListPort;
  std::chrono::milliseconds broadcast_period{1000};
  std::chrono::milliseconds restart_delay{2000};     // services down during a reset
  std::chrono::milliseconds request_timeout{5000};   // a request must arrive within this
  uint16_t tftp_port = 69;                           // of the computer that asks for an upgrade
  std::chrono::milliseconds tftp_timeout{1000};
  int tftp_retries = 5;
  size_t max_image_size = 16 * 1024 * 1024;

  std::string folder = ".";  // where the devices keep their files (printer jobs)

  std::vector<Device> devices;
  std::vector<Fault> faults;
};

// The last firmware upgrade (command 8).
struct UpgradeStatus {
  enum class State { kNone, kRunning, kSucceeded, kFailed };
  State state = State::kNone;
  std::string file;
  std::string client_ip;
  size_t bytes = 0;
  uint16_t tftp_error = 0;  // error code of a TFTP ERROR packet
  std::string message;      // why it failed
  std::vector<uint8_t> image;
};

// A connection that claimed a device: from here on it carries that device's USB data. The service
// owns the socket and closes it after the handler returns, then frees the device.
struct DataSession {
  int socket = -1;        // connected, non-blocking
  int stop_fd = -1;       // becomes readable when the server stops: the handler must then return
  Device device;          // as it was when claimed
  std::string client_ip;  // the claiming computer
};
using DataSessionHandler = std::function<void(const DataSession& session)>;

// What the device-data service has seen since Start.
struct NegotiationStats {
  int connections = 0;  // accepted
  int signatures = 0;   // records by id
  int free_tests = 0;
  int claims = 0;       // claim records, granted or not
  int granted = 0;      // claims granted
  int sessions_ended = 0;  // claimed connections closed (device freed)
};

class ServerCore;
class VirtualUsbDevice;

class Server {
 public:
  explicit Server(ServerOptions options, LogFunction log = {});
  ~Server();  // stops it
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds and starts every service; false with the reason when a socket cannot be bound.
  bool Start(std::string* error = nullptr);
  // Ends every service and thread; the server can be started again.
  void Stop();

  const ServerOptions& options() const;  // as made (its factory settings)
  const std::string& name() const;
  std::string address() const;
  uint16_t command_port() const;  // the port bound, also when options asked for a free one
  uint16_t data_port() const;     // the same for the device-data port
  bool running() const;           // services up (false during a reset)
  int restarts() const;           // resets and upgrades completed since Start

  // Devices.
  void Plug(const Device& device);  // replaces the device on the same port
  bool Unplug(uint16_t port);
  bool SetBusy(uint16_t port, bool busy, const std::string& client_ip = {});
  std::vector<Device> devices() const;

  // Device-list broadcasts.
  void SetBroadcastDestination(const std::string& address, uint16_t port);
  void SetBroadcastPeriod(std::chrono::milliseconds period);
  void BroadcastNow();

  // Device data: who serves a claimed connection (default: the port's virtual USB device, usb_session.h).
  void SetDataSessionHandler(DataSessionHandler handler);
  NegotiationStats negotiation() const;
  // The virtual device that answers the USB data of a port (usb_device.h); none without a device there.
  std::shared_ptr<VirtualUsbDevice> usb_device(uint16_t port);

  // Faults.
  void AddFault(const Fault& fault);
  void ClearFaults();

  // What the computer's side has done to it.
  ServerConfiguration configuration() const;
  bool locked() const;
  UpgradeStatus upgrade() const;
  int commands_answered() const;

  // Waits until pred() holds (checked at every change of the server and every 10 ms).
  bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) const;

 private:
  std::unique_ptr<ServerCore> core_;
};

}  // namespace zarnet::sim
