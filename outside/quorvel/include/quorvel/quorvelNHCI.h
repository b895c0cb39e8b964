// The stand-in for the Mac kernel driver whose IOKit class is quorvelNHCI: a service of an IOKit host
// that connects remote USB devices into driver slots 1 to 14.
//
// User client type 0, selectors 0 (open), 1 (close) and 5 (a 108-byte request beginning with
// devReqStruct: ReqType 1 connect, 0 disconnect). A connect takes a free slot, negotiates with the
// server on its device-data port (signature, is-device-free, claim; one connection each, the claimed
// one kept) and publishes a device nub (class "IOUSBDevice": idVendor, idProduct, bDeviceClass,
// locationID = the slot). A disconnect, or the server closing the claimed connection, frees the slot and
// the nub. Control transfers to the device travel on the claimed connection (DeviceSession below) and
// reach it through the nub's user client.
#pragma once
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cocoa/iokit_host.h"

namespace quorvel {

inline constexpr int kFirstSlot = 1;
inline constexpr int kLastSlot = 14;
inline constexpr uint32_t kRequestSize = 108;
inline constexpr const char* kNubClass = "IOUSBDevice";

// The device nub's user client (type 0): selector kNubDeviceRequest, structure in = the 8-byte setup
// packet then, for a host-to-device request, its wLength bytes of data; structure out = what a
// device-to-host request read (wLength at most the caller's room).
inline constexpr uint32_t kNubDeviceRequest = 0;
// A stalled control pipe, as the USB family reports it.
inline constexpr IOReturn kIOUSBPipeStalled = static_cast<IOReturn>(0xe000404f);
// The largest data stage of a control transfer (wLength is 16 bits).
inline constexpr uint32_t kMaxControlLength = 0xFFFF;

// One connected device: the claimed connection to its server and the nub that stands for it. Transfers
// travel on the claimed connection as 56-byte-header messages; the watcher thread reads the answers.
class DeviceSession {
 public:
  DeviceSession(int slot, std::string serverIp, uint16_t port, int socket);
  ~DeviceSession();  // closes the connection and joins the watcher
  DeviceSession(const DeviceSession&) = delete;
  DeviceSession& operator=(const DeviceSession&) = delete;

  int slot() const { return slot_; }
  const std::string& serverIp() const { return serverIp_; }
  uint16_t port() const { return port_; }
  uint32_t nub = 0;

  // A control transfer on the device's default pipe. data holds the OUT data (exactly wLength bytes) or
  // receives the IN data (at most wLength bytes). Several threads may transfer at once. A transfer not
  // answered within the timeout is unlinked on the server; a lost or closed connection fails it at once.
  IOReturn ControlTransfer(const uint8_t setup[8], std::vector<uint8_t>& data);
  void SetTransferTimeout(std::chrono::milliseconds timeout) { transferTimeout_ = timeout; }

  // Starts the watcher; `lost` runs (on the watcher thread) when the server closes the connection or
  // the stream breaks.
  void Watch(std::function<void(DeviceSession*)> lost);
  // Ends the session: pending transfers fail, the server sees the connection close, and the watcher
  // returns without reporting a loss (joined unless called from it).
  void Close();

 private:
  struct Pending;
  void Read(const std::function<void(DeviceSession*)>& lost);
  void FailPending(IOReturn why);
  bool SendMessage(const std::vector<uint8_t>& bytes, std::chrono::steady_clock::time_point deadline);

  int slot_;
  std::string serverIp_;
  uint16_t port_;
  int socket_;
  std::thread watcher_;
  std::mutex joinMutex_;
  std::mutex sendMutex_;  // one message at a time on the connection
  std::mutex mutex_;      // what follows
  std::condition_variable answered_;
  std::vector<Pending*> pending_;
  uint32_t nextSeqNo_ = 1;
  IOReturn ended_ = kIOReturnSuccess;  // why the session can carry no more transfers
  std::chrono::milliseconds transferTimeout_{5000};
};

class Driver : public cocoa::iokit::Service, public std::enable_shared_from_this<Driver> {
 public:
  explicit Driver(cocoa::iokit::Host& host);
  ~Driver() override;

  std::unique_ptr<cocoa::iokit::UserClient> NewUserClient(uint32_t type) override;

  // The request selector's work (also for tests): an IOKit result.
  IOReturn Request(const std::vector<uint8_t>& block, std::string* reply);
  // Slots in use, for tests and the demo.
  std::vector<int> slotsInUse() const;
  // Disconnects every device (the host going down); call while the host exists.
  void DisconnectAll();

  // How long one negotiation step may take (connect, then the reply).
  void SetStepTimeout(std::chrono::milliseconds timeout) { stepTimeout_ = timeout; }
  // How long a control transfer waits for its answer (sessions connected from now on).
  void SetTransferTimeout(std::chrono::milliseconds timeout) { transferTimeout_ = timeout; }

 private:
  IOReturn Connect(int slot, const std::string& ip, uint16_t port, const uint8_t* device);
  IOReturn Disconnect(int slot, const std::string& ip, uint16_t port);
  void Lost(DeviceSession* session);
  // One negotiation step on a connection of its own; the connection when it is to be kept (claim).
  IOReturn Step(const std::string& ip, uint8_t id, uint16_t port, int* keep);

  cocoa::iokit::Host& host_;
  mutable std::mutex mutex_;
  // Shared with the nubs' user clients, which hold a session only for the length of a transfer.
  std::array<std::shared_ptr<DeviceSession>, kLastSlot + 1> slots_;
  std::array<bool, kLastSlot + 1> connecting_{};  // slots whose negotiation runs
  // Sessions whose connection was lost, ended by the next call (their watcher cannot join itself).
  std::vector<std::shared_ptr<DeviceSession>> ended_;
  std::chrono::milliseconds stepTimeout_{5000};
  std::chrono::milliseconds transferTimeout_{5000};
};

}  // namespace quorvel
