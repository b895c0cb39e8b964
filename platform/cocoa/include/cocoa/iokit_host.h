// The kernel side of the IOKit stand-in: a host that publishes services by class name and serves
// user-client connections to them on a Unix socket (run/iokit.sock of the sysroot). A process that
// stands in for a kernel driver makes one Host, registers its services and starts it; tests may host
// the same services in-process.
#pragma once
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cocoa/IOKitLib.h"

namespace tavrin::base::local {
class Connection;
class Server;
}  // namespace tavrin::base::local

namespace cocoa::iokit {

// One open user-client connection. Calls on one connection come one at a time, from the host's thread
// for that connection.
class UserClient {
 public:
  virtual ~UserClient() = default;
  virtual IOReturn ScalarMethod(uint32_t selector, const std::vector<int64_t>& in, std::vector<int64_t>& out,
                                uint32_t outCount) = 0;
  virtual IOReturn StructMethod(uint32_t selector, const std::vector<uint8_t>& in, std::vector<uint8_t>& out,
                                uint32_t outCapacity) = 0;
  // The connection went (closed by the client, or the client process ended).
  virtual void Closed() {}
};

class Service {
 public:
  explicit Service(std::string className, std::map<std::string, int64_t> properties = {})
      : className_(std::move(className)), properties_(std::move(properties)) {}
  virtual ~Service() = default;
  const std::string& className() const { return className_; }
  const std::map<std::string, int64_t>& properties() const { return properties_; }
  // A new user client of that type; null refuses with kIOReturnUnsupported.
  virtual std::unique_ptr<UserClient> NewUserClient(uint32_t) { return nullptr; }

 private:
  std::string className_;
  std::map<std::string, int64_t> properties_;
};

class Host {
 public:
  // The socket: run/iokit.sock of the sysroot unless given.
  explicit Host(std::filesystem::path socketPath = {});
  ~Host();  // stops it
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  bool Start(std::string* error = nullptr);
  // Ends every connection (their user clients get Closed) and joins every thread.
  void Stop();

  // Services can come and go while the host runs; the id is what clients see as the service.
  uint32_t Register(std::shared_ptr<Service> service);
  void Unregister(uint32_t id);
  // Services of that class, in order of registration.
  std::vector<uint32_t> Find(const std::string& className) const;
  const std::filesystem::path& socketPath() const { return path_; }

  static std::filesystem::path DefaultSocketPath();

 private:
  // One connection's requests, on its own thread, until the client closes it or the host stops.
  void Serve(tavrin::base::local::Connection& connection);
  std::shared_ptr<Service> Lookup(uint32_t id) const;

  std::filesystem::path path_;
  std::unique_ptr<tavrin::base::local::Server> server_;  // while started
  mutable std::mutex mutex_;
  uint32_t nextId_ = 0x1000;
  std::vector<std::pair<uint32_t, std::shared_ptr<Service>>> services_;
};

}  // namespace cocoa::iokit
