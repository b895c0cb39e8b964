// The services of a simulated server.
#pragma once
#include <atomic>
#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "net.h"
#include "server_core.h"

namespace zarnet::sim {

// Answers each DISCOVERY_REQUEST with a DISCOVERY_REPLY from the command port.
class DiscoveryResponder : public Service {
 public:
  explicit DiscoveryResponder(ServerCore& core) : core_(core) {}
  ~DiscoveryResponder() override { Stop(); }
  const char* name() const override { return "discovery"; }
  bool Start(std::string* error) override;
  void Stop() override;

 private:
  void Run();
  ServerCore& core_;
  net::Fd socket_;
  net::StopSignal stop_;
  std::thread thread_;
};

// A TCP service that serves each accepted connection on a thread of its own; finished threads are joined
// as new connections come, the rest when the service stops.
class ConnectionService : public Service {
 public:
  void Stop() override;

 protected:
  explicit ConnectionService(ServerCore& core) : core_(core) {}
  // Listens on `address` and starts accepting.
  bool Listen(const sockaddr_in& address, std::string* error);
  virtual void Serve(net::Fd connection, std::string peer_ip) = 0;
  // Called on the accepting thread for each connection, before it is served.
  virtual void Accepted() {}
  ServerCore& core_;
  net::Fd listener_;
  net::StopSignal stop_;

 private:
  struct Connection {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  void AcceptLoop();
  void ReapFinished();
  std::thread acceptor_;
  std::mutex connections_mutex_;
  std::list<Connection> connections_;
};

// The command protocol: one request and one response per connection, each on its own thread.
class CommandService : public ConnectionService {
 public:
  explicit CommandService(ServerCore& core) : ConnectionService(core) {}
  ~CommandService() override { Stop(); }
  const char* name() const override { return "commands"; }
  bool Start(std::string* error) override;

 private:
  void Serve(net::Fd connection, std::string peer_ip) override;
};

// Sends SERVER_DEVICE_LIST every period to the destination of the moment.
class Broadcaster : public Service {
 public:
  explicit Broadcaster(ServerCore& core) : core_(core) {}
  ~Broadcaster() override { Stop(); }
  const char* name() const override { return "device list"; }
  bool Start(std::string* error) override;
  void Stop() override;
  void SendNow();        // the next datagram at once
  void PeriodChanged();  // the next datagram one new period after the last

 private:
  void Run();
  void SendOne();
  ServerCore& core_;
  net::Fd socket_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  bool send_now_ = false;
  bool recheck_ = false;
  bool warned_ = false;
};

// The device-data port: one negotiation record and its reply per connection; a granted claim hands
// the connection to the data-session handler and frees the device when it ends.
class DeviceDataService : public ConnectionService {
 public:
  explicit DeviceDataService(ServerCore& core) : ConnectionService(core) {}
  ~DeviceDataService() override { Stop(); }
  const char* name() const override { return "device data"; }
  bool Start(std::string* error) override;

 private:
  void Serve(net::Fd connection, std::string peer_ip) override;
  void Accepted() override;
  void DrainUntilClosed(int fd);
};

}  // namespace zarnet::sim
