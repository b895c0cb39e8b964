// The IOKit host: services by class name and their user-client connections, over a Unix socket.
#include "cocoa/iokit_host.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "cocoa/mac_root.h"
#include "iokit_wire.h"

namespace cocoa::iokit {

struct Host::Connection {
  int fd = -1;
  std::thread thread;
  std::atomic<bool> done{false};
};

std::filesystem::path Host::DefaultSocketPath() { return cocoa::RunDir() / "iokit.sock"; }

Host::Host(std::filesystem::path socketPath) : path_(socketPath.empty() ? DefaultSocketPath() : std::move(socketPath)) {}

Host::~Host() { Stop(); }

bool Host::Start(std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why + ": " + strerror(errno);
    if (listener_ >= 0) ::close(listener_);
    listener_ = -1;
    return false;
  };
  if (listener_ >= 0) return true;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string path = path_.string();
  if (path.size() >= sizeof address.sun_path) {
    errno = ENAMETOOLONG;
    return fail(path);
  }
  memcpy(address.sun_path, path.c_str(), path.size() + 1);
  // A socket file left by a host that ended is taken over; a live host keeps it.
  int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (probe >= 0) {
    bool live = ::connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(probe);
    if (live) {
      errno = EADDRINUSE;
      return fail("another IOKit host serves " + path);
    }
  }
  ::unlink(path.c_str());
  listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener_ < 0) return fail("socket");
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return fail("bind " + path);
  if (::listen(listener_, 16) != 0) return fail("listen");
  {
    std::lock_guard lock(mutex_);
    stopping_ = false;
  }
  acceptThread_ = std::thread([this] { AcceptLoop(); });
  return true;
}

void Host::Stop() {
  if (listener_ < 0) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    for (auto& c : connections_) ::shutdown(c->fd, SHUT_RDWR);
  }
  ::shutdown(listener_, SHUT_RDWR);  // wakes the accept
  if (acceptThread_.joinable()) acceptThread_.join();
  std::vector<std::unique_ptr<Connection>> connections;
  {
    std::lock_guard lock(mutex_);
    connections.swap(connections_);
  }
  for (auto& c : connections) {
    if (c->thread.joinable()) c->thread.join();
    ::close(c->fd);
  }
  ::close(listener_);
  listener_ = -1;
  ::unlink(path_.c_str());
}

uint32_t Host::Register(std::shared_ptr<Service> service) {
  std::lock_guard lock(mutex_);
  uint32_t id = nextId_++;
  services_.emplace_back(id, std::move(service));
  return id;
}

void Host::Unregister(uint32_t id) {
  std::lock_guard lock(mutex_);
  std::erase_if(services_, [id](const auto& s) { return s.first == id; });
}

std::vector<uint32_t> Host::Find(const std::string& className) const {
  std::lock_guard lock(mutex_);
  std::vector<uint32_t> ids;
  for (const auto& [id, service] : services_)
    if (service->className() == className) ids.push_back(id);
  return ids;
}

std::shared_ptr<Service> Host::Lookup(uint32_t id) const {
  std::lock_guard lock(mutex_);
  for (const auto& [sid, service] : services_)
    if (sid == id) return service;
  return nullptr;
}

void Host::AcceptLoop() {
  for (;;) {
    int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    std::lock_guard lock(mutex_);
    if (stopping_) {
      if (fd >= 0) ::close(fd);
      return;
    }
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED || errno == EMFILE || errno == ENFILE) continue;
      return;
    }
    // Connections that ended are joined here, so that threads do not pile up.
    for (auto it = connections_.begin(); it != connections_.end();) {
      if ((*it)->done) {
        (*it)->thread.join();
        ::close((*it)->fd);
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
    auto connection = std::make_unique<Connection>();
    connection->fd = fd;
    Connection* c = connection.get();
    connections_.push_back(std::move(connection));
    c->thread = std::thread([this, c] { Serve(c); });
  }
}

void Host::Serve(Connection* c) {
  std::unique_ptr<UserClient> client;
  std::vector<uint8_t> body;
  while (wire::RecvFrame(c->fd, body)) {
    wire::Reader r(body);
    wire::Writer reply;
    uint32_t op = 0;
    r.U32(op);
    bool closeAfter = false;
    switch (op) {
      case wire::kMatch: {
        std::string className;
        r.Text(className);
        std::vector<std::pair<uint32_t, std::shared_ptr<Service>>> found;
        {
          std::lock_guard lock(mutex_);
          for (const auto& s : services_)
            if (s.second->className() == className) found.push_back(s);
        }
        reply.U32(kIOReturnSuccess);
        reply.U32(static_cast<uint32_t>(found.size()));
        for (const auto& [id, service] : found) {
          reply.U32(id);
          reply.Text(service->className());
          reply.U32(static_cast<uint32_t>(service->properties().size()));
          for (const auto& [key, value] : service->properties()) {
            reply.Text(key);
            reply.I64(value);
          }
        }
        break;
      }
      case wire::kOpen: {
        uint32_t id = 0, type = 0;
        auto service = r.U32(id) && r.U32(type) ? Lookup(id) : nullptr;
        if (client) {
          reply.U32(static_cast<uint32_t>(kIOReturnExclusiveAccess));
        } else if (!service) {
          reply.U32(static_cast<uint32_t>(kIOReturnNoDevice));
        } else {
          client = service->NewUserClient(type);
          reply.U32(static_cast<uint32_t>(client ? kIOReturnSuccess : kIOReturnUnsupported));
        }
        break;
      }
      case wire::kScalar: {
        uint32_t selector = 0, count = 0, outCount = 0;
        std::vector<int64_t> in, out;
        bool ok = r.U32(selector) && r.U32(count) && count <= 16;
        for (uint32_t i = 0; ok && i < count; ++i) {
          int64_t v = 0;
          ok = r.I64(v);
          if (ok) in.push_back(v);
        }
        ok = ok && r.U32(outCount) && outCount <= 16;
        IOReturn result = !ok ? kIOReturnBadArgument
                              : client ? client->ScalarMethod(selector, in, out, outCount) : kIOReturnNotOpen;
        reply.U32(static_cast<uint32_t>(result));
        if (out.size() > outCount) out.resize(outCount);
        reply.U32(static_cast<uint32_t>(out.size()));
        for (int64_t v : out) reply.I64(v);
        break;
      }
      case wire::kStruct: {
        uint32_t selector = 0, capacity = 0;
        std::vector<uint8_t> in, out;
        bool ok = r.U32(selector) && r.Bytes(in) && r.U32(capacity);
        IOReturn result = !ok ? kIOReturnBadArgument
                              : client ? client->StructMethod(selector, in, out, capacity) : kIOReturnNotOpen;
        if (out.size() > capacity) out.resize(capacity);
        reply.U32(static_cast<uint32_t>(result));
        reply.Bytes(out.data(), out.size());
        break;
      }
      case wire::kClose:
        reply.U32(kIOReturnSuccess);
        closeAfter = true;
        break;
      default:
        reply.U32(static_cast<uint32_t>(kIOReturnBadArgument));
    }
    if (!wire::SendFrame(c->fd, reply.bytes) || closeAfter) break;
  }
  if (client) client->Closed();
  client.reset();
  c->done = true;
}

}  // namespace cocoa::iokit
