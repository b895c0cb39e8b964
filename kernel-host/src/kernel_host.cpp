// The kernel host's socket service (the base layer's local-socket server): one thread per connection; a
// connection is an enumeration, an open device handle (whose I/O controls run on that thread, in that
// process's context) or a subscription to interface notices. The connections are bounded: beyond the
// limit, or when no thread can be had, a new connection is closed at once, and one that does not say what
// it is for in time is closed too.
#include "kernel_host/kernel_host.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <set>

#include "base/local_socket.h"
#include "base/shared_memory.h"
#include "kernel_host/device_store.h"
#include "kernel_host/fake_control_device.h"
#include "kernel_host/usb_composite.h"
#include "kernel_host/usb_function.h"
#include "pelkobus/pelkobus.h"
#include "pelkobus/busenum.h"
#include "vizorido/vizorido.h"
#include "wincommon/kernel_link.h"

namespace tavrin::kernel_host {
namespace {

namespace link = tavrin::kernel_link;
using link::Message;

// A connection's socket, shared with the event sinks that may outlive the connection: the descriptor is
// closed only when the last user is gone, so it is never reused under a sink's feet.
class Channel {
 public:
  explicit Channel(std::shared_ptr<base::local::Connection> socket) : socket_(std::move(socket)) {}
  int fd() const { return socket_->fd(); }
  bool Send(Message type, const link::Writer& payload, std::span<const uint8_t> tail = {}) {
    std::lock_guard guard(writeLock_);
    return link::Send(socket_->fd(), type, payload, tail);
  }
  bool SetReceiveTimeout(std::chrono::milliseconds timeout) { return socket_->SetReceiveTimeout(timeout); }

 private:
  std::shared_ptr<base::local::Connection> socket_;
  std::mutex writeLock_;
};

class EventSink : public wdk::UserEventSink {
 public:
  EventSink(std::shared_ptr<Channel> channel, uint64_t ref) : channel_(std::move(channel)), ref_(ref) {}
  ~EventSink() override { channel_->Send(Message::ReleaseEvent, link::Writer().U64(ref_)); }
  void Set() override { channel_->Send(Message::SetEvent, link::Writer().U64(ref_).U8(1)); }
  void Reset() override { channel_->Send(Message::SetEvent, link::Writer().U64(ref_).U8(0)); }

 private:
  std::shared_ptr<Channel> channel_;
  uint64_t ref_;
};

class Connection : public wdk::Requestor, public wdk::InterfaceListener {
 public:
  Connection(wdk::Kernel& kernel, std::shared_ptr<base::local::Connection> socket,
             std::chrono::milliseconds firstRequestTimeout, DeviceStore& store, std::atomic<int>& openFiles,
             base::local::HangupWatch& hangups)
      : kernel_(kernel),
        channel_(std::make_shared<Channel>(std::move(socket))),
        firstRequestTimeout_(firstRequestTimeout),
        store_(store),
        openFiles_(openFiles),
        hangups_(hangups) {}

  // The client is gone, or the host stops: what its file has running is cancelled, as for a process
  // that ended, and nothing new starts.
  void Abandon() {
    std::lock_guard guard(fileLock_);
    abandoned_ = true;
    if (file_) kernel_.CancelFileIo(file_);
  }

  // Runs on this connection's thread, inside a request of its process: asks the process about the handle.
  NTSTATUS ReferenceEvent(HANDLE handle, std::shared_ptr<wdk::UserEventSink>* sink) override {
    uint64_t ref = ++nextRef_;
    if (!channel_->Send(Message::ReferenceEvent,
                        link::Writer().U64(ref).U64(reinterpret_cast<uintptr_t>(handle))))
      return STATUS_INVALID_HANDLE;
    Message type;
    std::vector<uint8_t> payload;
    if (!link::Receive(channel_->fd(), &type, &payload) || type != Message::EventAnswer) return STATUS_INVALID_HANDLE;
    link::Reader reader(payload);
    auto status = static_cast<NTSTATUS>(reader.U32());
    if (reader.failed()) return STATUS_INVALID_HANDLE;
    if (NT_SUCCESS(status)) *sink = std::make_shared<EventSink>(channel_, ref);
    return status;
  }

  NTSTATUS ReadMemory(uint64_t address, void* buffer, size_t length) override {
    if (length > link::kMaxPayload ||
        !channel_->Send(Message::ReadMemory, link::Writer().U64(address).U32(static_cast<uint32_t>(length))))
      return STATUS_ACCESS_VIOLATION;
    Message type;
    std::vector<uint8_t> payload;
    if (!link::Receive(channel_->fd(), &type, &payload) || type != Message::MemoryAnswer)
      return STATUS_ACCESS_VIOLATION;
    link::Reader reader(payload);
    auto status = static_cast<NTSTATUS>(reader.U32());
    std::vector<uint8_t> bytes = reader.Rest();
    if (reader.failed() || !NT_SUCCESS(status) || bytes.size() != length) return STATUS_ACCESS_VIOLATION;
    std::memcpy(buffer, bytes.data(), length);
    return STATUS_SUCCESS;
  }

  void OnInterfaceChange(const GUID& interfaceClass, const std::string& path, bool arrival) override {
    if (!allClasses_ && !(interfaceClass == filter_)) return;
    channel_->Send(Message::InterfaceChange, link::Writer().U8(arrival ? 1 : 0).Guid(interfaceClass).String(path));
  }

  // Runs on the connection's thread until the client is done; the socket is shut down after it.
  void Serve() {
    Message type;
    std::vector<uint8_t> payload;
    if (!channel_->SetReceiveTimeout(firstRequestTimeout_) || !link::Receive(channel_->fd(), &type, &payload) ||
        !channel_->SetReceiveTimeout(std::chrono::milliseconds(0)))
      return;
    link::Reader reader(payload);
    switch (type) {
      case Message::Enumerate:
        return Enumerate(reader);
      case Message::Open:
        return ServeFile(reader);
      case Message::Subscribe:
        return ServeSubscription(reader);
      case Message::ListNodes:
        channel_->Send(Message::Nodes, DeviceStore::List(kernel_));
        return;
      case Message::ReloadNodes:
        channel_->Send(Message::Reloaded, link::Writer().U32(store_.Reload(kernel_)));
        return;
      default:
        return;
    }
  }

 private:
  void Enumerate(link::Reader& reader) {
    GUID interfaceClass = reader.Guid();
    bool presentOnly = reader.U8() != 0;
    if (reader.failed()) return;
    auto interfaces = kernel_.Interfaces(interfaceClass, presentOnly);
    link::Writer answer;
    answer.U32(static_cast<uint32_t>(interfaces.size()));
    for (const auto& i : interfaces) answer.U8(i.enabled ? 1 : 0).String(i.path);
    channel_->Send(Message::Interfaces, answer);
  }

  void ServeFile(link::Reader& reader) {
    ACCESS_MASK access = reader.U32();
    std::string path = reader.String();
    if (reader.failed()) return;
    PFILE_OBJECT file = nullptr;
    NTSTATUS status;
    {
      wdk::ScopedRequestor context(this);
      status = kernel_.OpenFile(path, access, &file);
    }
    if (!channel_->Send(Message::Opened, link::Writer().U32(static_cast<uint32_t>(status))) || !NT_SUCCESS(status)) {
      if (NT_SUCCESS(status)) CloseFile(file);
      return;
    }
    ++openFiles_;
    {
      std::lock_guard guard(fileLock_);
      file_ = file;
      if (abandoned_) kernel_.CancelFileIo(file);
    }
    // A client that closes its handle or ends while a request of it waits in a driver sends nothing
    // more: its requests are cancelled when its end of the socket goes.
    const uint64_t watch = hangups_.Add(channel_->fd(), [this] { Abandon(); });
    Message type;
    std::vector<uint8_t> payload;
    std::vector<uint8_t> out;  // kept from request to request: only its size changes
    std::unique_ptr<base::SharedMemory> shared;
    for (;;) {
      int descriptor = -1;
      if (!link::ReceiveWithDescriptor(channel_->fd(), &type, &payload, &descriptor)) break;
      link::Reader request(payload);
      if (type == Message::SharedBuffer) {
        // Memory of the client's for the data of its requests, replacing any it gave before.
        uint64_t size = request.U64();
        shared.reset();
        if (!request.failed() && descriptor >= 0 && size <= link::kMaxPayload)
          shared = base::SharedMemory::Map(descriptor, size);
        if (descriptor >= 0) close(descriptor);
        NTSTATUS taken = shared ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER;
        if (!channel_->Send(Message::SharedBufferTaken, link::Writer().U32(static_cast<uint32_t>(taken)))) break;
        continue;
      }
      if (descriptor >= 0) close(descriptor);
      if (type != Message::Ioctl && type != Message::IoctlShared) break;
      ULONG code = request.U32();
      ULONG outLength = request.U32();
      std::span<const uint8_t> in;
      uint8_t* output;
      if (type == Message::IoctlShared) {
        ULONG inLength = request.U32();
        if (request.failed() || !shared || inLength > shared->size() || outLength > shared->size()) break;
        // The input is copied into the request's own buffer as it is built, and the output written back
        // once the driver is done, so the client's memory is never what a driver works on.
        in = std::span<const uint8_t>(shared->data(), inLength);
        output = shared->data();
      } else {
        in = request.RestInPlace();
        if (request.failed() || outLength > link::kMaxPayload) break;
        if (out.size() < outLength) out.resize(outLength);
        output = out.data();
      }
      ULONG_PTR information = 0;
      {
        wdk::ScopedRequestor context(this);
        status = kernel_.DeviceControl(file, code, in.data(), static_cast<ULONG>(in.size()), output, outLength,
                                       &information);
      }
      const auto returned = static_cast<uint32_t>(NT_ERROR(status) ? 0 : std::min<ULONG_PTR>(information, outLength));
      link::Writer answer;
      answer.U32(static_cast<uint32_t>(status)).U64(information);
      bool sent = type == Message::IoctlShared
                      ? channel_->Send(Message::IoctlDone, answer.U32(returned))
                      : channel_->Send(Message::IoctlDone, answer, std::span<const uint8_t>(output, returned));
      if (!sent) break;
    }
    hangups_.Remove(watch);
    {
      std::lock_guard guard(fileLock_);
      file_ = nullptr;
    }
    CloseFile(file);
    --openFiles_;
    channel_->Send(Message::Closed, link::Writer());
  }

  void CloseFile(PFILE_OBJECT file) {
    wdk::ScopedRequestor context(this);
    kernel_.CloseFile(file);
  }

  void ServeSubscription(link::Reader& reader) {
    allClasses_ = reader.U8() != 0;
    filter_ = reader.Guid();
    if (reader.failed()) return;
    kernel_.AddInterfaceListener(this);
    if (channel_->Send(Message::Subscribed, link::Writer().U32(STATUS_SUCCESS))) {
      Message type;
      std::vector<uint8_t> payload;
      while (link::Receive(channel_->fd(), &type, &payload)) {
      }  // nothing is expected: the client ends the subscription by closing
    }
    kernel_.RemoveInterfaceListener(this);
  }

  wdk::Kernel& kernel_;
  std::shared_ptr<Channel> channel_;
  const std::chrono::milliseconds firstRequestTimeout_;
  DeviceStore& store_;
  std::atomic<int>& openFiles_;
  base::local::HangupWatch& hangups_;
  std::mutex fileLock_;  // guards the two below
  PFILE_OBJECT file_ = nullptr;
  bool abandoned_ = false;
  uint64_t nextRef_ = 0;
  bool allClasses_ = false;
  GUID filter_{};
};

}  // namespace

struct KernelHost::Impl {
  Options options;
  std::unique_ptr<wdk::Kernel> kernel;
  std::filesystem::path socketPath;
  base::local::Server server;
  std::atomic<int> openFiles{0};
  std::unique_ptr<DeviceStore> store;
  std::unique_ptr<base::local::HangupWatch> hangups;
  std::mutex servedLock;  // guards the two below
  std::set<Connection*> served;
  bool stopping = false;

  void Serve(const std::shared_ptr<base::local::Connection>& socket) {
    Connection connection(*kernel, socket, options.firstRequestTimeout, *store, openFiles, *hangups);
    {
      std::lock_guard guard(servedLock);
      if (stopping) connection.Abandon();
      served.insert(&connection);
    }
    connection.Serve();
    std::lock_guard guard(servedLock);
    served.erase(&connection);
  }
};

KernelHost::KernelHost(Options options) : impl_(std::make_unique<Impl>()) { impl_->options = std::move(options); }

KernelHost::~KernelHost() { Stop(); }

wdk::Kernel& KernelHost::kernel() { return *impl_->kernel; }
std::filesystem::path KernelHost::socketPath() const { return impl_->socketPath; }

bool KernelHost::Start(std::string* error) {
  Impl& h = *impl_;
  auto fail = [&](const std::string& what) {
    if (error) *error = what + ": " + std::strerror(errno);
    Stop();
    return false;
  };
  h.socketPath = link::SocketPath();
  const auto address = base::local::Address::File(h.socketPath);
  if (base::local::Listening(address)) {
    errno = EADDRINUSE;
    return fail("a kernel host already serves " + h.socketPath.string());
  }

  if (wdk::Kernel::Current()) {
    errno = EBUSY;
    return fail("this process runs a kernel already");
  }
  h.kernel = std::make_unique<wdk::Kernel>();
  std::vector<DriverSpec> drivers{{vizorido::kHardwareId, vizorido::kService, vizorido::DriverEntry}};
  if (h.options.busDriver == BusDriver::kPelkobus) {
    drivers.push_back({VIRTUAL_USB_HARDWARE_ID, pelkobus::kService, pelkobus::DriverEntry});
  } else if (h.options.busDriver == BusDriver::kFake && h.options.fakeControlDevice) {
    drivers.push_back({VIRTUAL_USB_HARDWARE_ID, fake_control_device::kService, fake_control_device::DriverEntry});
  }
  drivers.insert(drivers.end(), h.options.drivers.begin(), h.options.drivers.end());
  // The stand-in function driver matches the bus driver's children by class, installed or not; the
  // composite parent takes a device of several interfaces and offers each to it.
  usb_function::Register(*h.kernel);
  usb_composite::Register(*h.kernel);
  h.store = std::make_unique<DeviceStore>(std::move(drivers), [&h] { return h.openFiles.load(); });
  h.hangups = std::make_unique<base::local::HangupWatch>();
  {
    std::lock_guard guard(h.servedLock);
    h.stopping = false;
  }
  h.store->Start(*h.kernel);

  base::local::Server::Options serve;
  serve.maxConnections = h.options.maxConnections;
  serve.name = "kernel-host";
  std::string why;
  if (!h.server.Start(address, [&h](const auto& socket) { h.Serve(socket); }, serve, &why)) {
    if (error) *error = why;
    Stop();
    return false;
  }
  return true;
}

void KernelHost::Stop() {
  Impl& h = *impl_;
  {
    // Requests still waiting in drivers are cancelled first: a connection thread inside one cannot be joined.
    std::lock_guard guard(h.servedLock);
    h.stopping = true;
    for (Connection* c : h.served) c->Abandon();
  }
  h.server.Stop();  // shuts every connection down and joins its thread
  h.hangups.reset();
  h.kernel.reset();
}

}  // namespace tavrin::kernel_host
