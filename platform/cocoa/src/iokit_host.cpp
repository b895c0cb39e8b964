// The IOKit host: services by class name and their user-client connections, over a Unix socket.
#include "cocoa/iokit_host.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/local_socket.h"
#include "cocoa/mac_root.h"
#include "iokit_wire.h"

namespace cocoa::iokit {

namespace local = tavrin::base::local;

std::filesystem::path Host::DefaultSocketPath() { return cocoa::RunDir() / "iokit.sock"; }

Host::Host(std::filesystem::path socketPath) : path_(socketPath.empty() ? DefaultSocketPath() : std::move(socketPath)) {}

Host::~Host() { Stop(); }

bool Host::Start(std::string* error) {
  if (server_) return true;
  const auto address = local::Address::File(path_);
  // A socket file left by a host that ended is taken over; a live host keeps it.
  if (local::Listening(address)) {
    errno = EADDRINUSE;
    if (error) *error = "another IOKit host serves " + path_.string() + ": " + strerror(errno);
    return false;
  }
  auto server = std::make_unique<local::Server>();
  local::Server::Options options;
  options.name = "IOKit host";
  if (!server->Start(address, [this](const std::shared_ptr<local::Connection>& c) { Serve(*c); }, options, error))
    return false;
  server_ = std::move(server);
  return true;
}

void Host::Stop() {
  if (!server_) return;
  server_->Stop();  // ends every connection (their user clients get Closed) and joins its thread
  server_.reset();
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

void Host::Serve(local::Connection& c) {
  std::unique_ptr<UserClient> client;
  std::vector<uint8_t> body;
  while (wire::RecvFrame(c.fd(), body)) {
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
    if (!wire::SendFrame(c.fd(), reply.bytes) || closeAfter) break;
  }
  if (client) client->Closed();
}

}  // namespace cocoa::iokit
