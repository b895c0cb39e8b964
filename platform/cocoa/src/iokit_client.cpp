// IOKit user-client calls: objects are handles of this process; services are found and connections
// made through the host's socket.
#include <chrono>
#include <cstdarg>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <variant>

#include "base/local_socket.h"
#include "cocoa/IOKitLib.h"
#include "cocoa/iokit_host.h"
#include "iokit_wire.h"

namespace {

namespace wire = cocoa::iokit::wire;

struct ServiceInfo {
  uint32_t id = 0;
  std::string className;
  std::map<std::string, int64_t> properties;
};
struct Iterator {
  std::vector<ServiceInfo> services;
  size_t next = 0;
};
// One open connection: its socket, used by one call at a time.
struct Connection {
  tavrin::base::local::Connection socket;
  std::mutex mutex;
};
using Object = std::variant<ServiceInfo, Iterator, std::shared_ptr<Connection>>;

std::mutex g_mutex;
std::map<io_object_t, Object> g_objects;
io_object_t g_next = 0x100;

io_object_t Insert(Object object) {
  std::lock_guard lock(g_mutex);
  io_object_t handle = g_next++;
  if (g_next == 0) g_next = 0x100;
  g_objects.emplace(handle, std::move(object));
  return handle;
}

// A socket connected to the host; an invalid one when none runs.
tavrin::base::local::Connection ConnectHost() {
  auto socket = tavrin::base::local::Connect(tavrin::base::local::Address::File(cocoa::iokit::Host::DefaultSocketPath()));
  // A host that stops answering must not hang the caller for ever.
  if (socket.valid()) socket.SetReceiveTimeout(std::chrono::seconds(60));
  return socket;
}

// One request and its reply on a connection; false when the host is gone.
bool Call(int fd, const wire::Writer& request, std::vector<uint8_t>& reply, IOReturn& result) {
  if (!wire::SendFrame(fd, request.bytes) || !wire::RecvFrame(fd, reply)) return false;
  wire::Reader r(reply);
  uint32_t code;
  if (!r.U32(code)) return false;
  result = static_cast<IOReturn>(code);
  return true;
}

std::shared_ptr<Connection> ConnectionOf(io_connect_t connect) {
  std::lock_guard lock(g_mutex);
  auto it = g_objects.find(connect);
  if (it == g_objects.end()) return nullptr;
  auto* c = std::get_if<std::shared_ptr<Connection>>(&it->second);
  return c ? *c : nullptr;
}

}  // namespace

mach_port_t mach_task_self() { return 0x103; }

kern_return_t IOMasterPort(mach_port_t, mach_port_t* masterPort) {
  if (!masterPort) return kIOReturnBadArgument;
  *masterPort = 0x0B03;
  return KERN_SUCCESS;
}

CFMutableDictionaryRef IOServiceMatching(const char* name) {
  if (!name) return nullptr;
  CFMutableDictionaryRef d = CFDictionaryCreateMutable(kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks,
                                                       &kCFTypeDictionaryValueCallBacks);
  CFStringRef value = CFStringCreateWithCString(kCFAllocatorDefault, name, kCFStringEncodingUTF8);
  CFDictionarySetValue(d, CFSTR("IOProviderClass"), value);
  CFRelease(value);
  return d;
}

kern_return_t IOServiceGetMatchingServices(mach_port_t masterPort, CFDictionaryRef matching, io_iterator_t* existing) {
  if (!existing || !matching || !masterPort) {
    if (matching) CFRelease(matching);
    return kIOReturnBadArgument;
  }
  auto* name = dynamic_cast<NSString*>(
      static_cast<NSObject*>(const_cast<void*>(CFDictionaryGetValue(matching, CFSTR("IOProviderClass")))));
  std::string className = name ? name->str() : "";
  CFRelease(matching);

  Iterator iterator;
  if (auto socket = ConnectHost(); socket.valid()) {
    wire::Writer request;
    request.U32(wire::kMatch);
    request.Text(className);
    std::vector<uint8_t> reply;
    IOReturn result = kIOReturnError;
    if (Call(socket.fd(), request, reply, result) && result == kIOReturnSuccess) {
      wire::Reader r(reply);
      uint32_t code, count = 0;
      r.U32(code);
      r.U32(count);
      for (uint32_t i = 0; i < count && i < 4096; ++i) {
        ServiceInfo info;
        uint32_t properties = 0;
        if (!r.U32(info.id) || !r.Text(info.className) || !r.U32(properties)) break;
        for (uint32_t p = 0; p < properties && p < 256; ++p) {
          std::string key;
          int64_t value;
          if (!r.Text(key) || !r.I64(value)) break;
          info.properties[key] = value;
        }
        iterator.services.push_back(std::move(info));
      }
    }
  }
  *existing = Insert(std::move(iterator));
  return KERN_SUCCESS;
}

io_object_t IOIteratorNext(io_iterator_t handle) {
  ServiceInfo info;
  {
    std::lock_guard lock(g_mutex);
    auto it = g_objects.find(handle);
    if (it == g_objects.end()) return IO_OBJECT_NULL;
    auto* iterator = std::get_if<Iterator>(&it->second);
    if (!iterator || iterator->next >= iterator->services.size()) return IO_OBJECT_NULL;
    info = iterator->services[iterator->next++];
  }
  return Insert(std::move(info));
}

kern_return_t IOObjectRelease(io_object_t object) {
  std::shared_ptr<Connection> connection;
  {
    std::lock_guard lock(g_mutex);
    auto it = g_objects.find(object);
    if (it == g_objects.end()) return kIOReturnBadArgument;
    if (auto* c = std::get_if<std::shared_ptr<Connection>>(&it->second)) connection = *c;
    g_objects.erase(it);
  }
  return KERN_SUCCESS;  // a connection's socket closes with its last user
}

kern_return_t IOObjectGetClass(io_object_t object, io_name_t className) {
  std::lock_guard lock(g_mutex);
  auto it = g_objects.find(object);
  if (it == g_objects.end() || !className) return kIOReturnBadArgument;
  std::string name = "IOObject";
  if (auto* s = std::get_if<ServiceInfo>(&it->second)) name = s->className;
  else if (std::holds_alternative<Iterator>(it->second)) name = "IOIterator";
  else name = "IOUserClient";
  snprintf(className, sizeof(io_name_t), "%s", name.c_str());
  return KERN_SUCCESS;
}

CFTypeRef IORegistryEntryCreateCFProperty(io_registry_entry_t entry, CFStringRef key, CFAllocatorRef, IOOptionBits) {
  if (!key) return nullptr;
  std::lock_guard lock(g_mutex);
  auto it = g_objects.find(entry);
  if (it == g_objects.end()) return nullptr;
  auto* s = std::get_if<ServiceInfo>(&it->second);
  if (!s) return nullptr;
  auto p = s->properties.find(key->str());
  if (p == s->properties.end()) return nullptr;
  int64_t v = p->second;
  return CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt64Type, &v);
}

kern_return_t IOServiceOpen(io_service_t service, task_port_t, uint32_t type, io_connect_t* connect) {
  if (!connect) return kIOReturnBadArgument;
  *connect = IO_OBJECT_NULL;
  uint32_t id = 0;
  {
    std::lock_guard lock(g_mutex);
    auto it = g_objects.find(service);
    if (it == g_objects.end() || !std::holds_alternative<ServiceInfo>(it->second)) return kIOReturnBadArgument;
    id = std::get<ServiceInfo>(it->second).id;
  }
  auto connection = std::make_shared<Connection>();
  connection->socket = ConnectHost();
  if (!connection->socket.valid()) return kIOReturnNotFound;
  wire::Writer request;
  request.U32(wire::kOpen);
  request.U32(id);
  request.U32(type);
  std::vector<uint8_t> reply;
  IOReturn result = kIOReturnError;
  if (!Call(connection->socket.fd(), request, reply, result)) return kIOReturnNotResponding;
  if (result != kIOReturnSuccess) return result;
  *connect = Insert(connection);
  return kIOReturnSuccess;
}

kern_return_t IOServiceClose(io_connect_t connect) {
  auto connection = ConnectionOf(connect);
  if (!connection) return kIOReturnBadArgument;
  {
    std::lock_guard lock(connection->mutex);
    wire::Writer request;
    request.U32(wire::kClose);
    std::vector<uint8_t> reply;
    IOReturn result;
    Call(connection->socket.fd(), request, reply, result);
  }
  IOObjectRelease(connect);
  return kIOReturnSuccess;
}

kern_return_t IOConnectMethodScalarIScalarO(io_connect_t connect, unsigned int index, IOItemCount scalarInputCount,
                                            IOItemCount scalarOutputCount, ...) {
  if (scalarInputCount > 16 || scalarOutputCount > 16) return kIOReturnBadArgument;
  va_list args;
  va_start(args, scalarOutputCount);
  wire::Writer request;
  request.U32(wire::kScalar);
  request.U32(index);
  request.U32(scalarInputCount);
  for (IOItemCount i = 0; i < scalarInputCount; ++i) request.I64(va_arg(args, int));
  std::vector<int*> outputs;
  for (IOItemCount i = 0; i < scalarOutputCount; ++i) outputs.push_back(va_arg(args, int*));
  va_end(args);
  request.U32(scalarOutputCount);

  auto connection = ConnectionOf(connect);
  if (!connection) return kIOReturnNotOpen;
  std::lock_guard lock(connection->mutex);
  std::vector<uint8_t> reply;
  IOReturn result = kIOReturnError;
  if (!Call(connection->socket.fd(), request, reply, result)) return kIOReturnNotResponding;
  if (result != kIOReturnSuccess) return result;
  wire::Reader r(reply);
  uint32_t code, count = 0;
  r.U32(code);
  r.U32(count);
  for (uint32_t i = 0; i < count && i < outputs.size(); ++i) {
    int64_t v = 0;
    if (!r.I64(v)) break;
    if (outputs[i]) *outputs[i] = static_cast<int>(v);
  }
  return result;
}

kern_return_t IOConnectMethodStructureIStructureO(io_connect_t connect, unsigned int index,
                                                  IOItemCount structureInputSize, IOByteCount* structureOutputSize,
                                                  void* inputStructure, void* outputStructure) {
  if ((structureInputSize && !inputStructure) || structureInputSize > wire::kMaxFrame / 2) return kIOReturnBadArgument;
  const uint32_t capacity = structureOutputSize && outputStructure ? *structureOutputSize : 0;
  auto connection = ConnectionOf(connect);
  if (!connection) return kIOReturnNotOpen;
  wire::Writer request;
  request.U32(wire::kStruct);
  request.U32(index);
  request.Bytes(inputStructure, structureInputSize);
  request.U32(capacity);
  std::lock_guard lock(connection->mutex);
  std::vector<uint8_t> reply;
  IOReturn result = kIOReturnError;
  if (!Call(connection->socket.fd(), request, reply, result)) return kIOReturnNotResponding;
  wire::Reader r(reply);
  uint32_t code;
  std::vector<uint8_t> out;
  r.U32(code);
  if (r.Bytes(out) && structureOutputSize) {
    // Never more than the caller's room, whatever the service sent.
    size_t n = out.size() < capacity ? out.size() : capacity;
    if (n) memcpy(outputStructure, out.data(), n);
    *structureOutputSize = static_cast<IOByteCount>(n);
  }
  return result;
}
