// The kernel host's socket service: one thread per connection; a connection is an enumeration, an open
// device handle (whose I/O controls run on that thread, in that process's context) or a subscription to
// interface notices. The connections are bounded: beyond the limit, or when no thread can be had, a new
// connection is closed at once, and one that does not say what it is for in time is closed too.
#include "kernel_host/kernel_host.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <list>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

#include "kernel_host/device_store.h"
#include "kernel_host/fake_control_device.h"
#include "kernel_host/usb_composite.h"
#include "kernel_host/usb_function.h"
#include "pelkobus/pelkobus.h"
#include "pelkobus/busenum.h"
#include "vizorido/vizorido.h"
#include "win32/devices/kernel_link.h"

namespace tavrin::kernel_host {
namespace {

namespace link = tavrin::kernel_link;
using link::Message;

// A connection's socket, shared with the event sinks that may outlive the connection: the descriptor is
// closed only when the last user is gone, so it is never reused under a sink's feet.
class Channel {
 public:
  explicit Channel(int fd) : fd_(fd) {}
  ~Channel() { close(fd_); }
  int fd() const { return fd_; }
  bool Send(Message type, const link::Writer& payload) {
    std::lock_guard guard(writeLock_);
    return link::Send(fd_, type, payload);
  }
  void Shutdown() { shutdown(fd_, SHUT_RDWR); }

 private:
  int fd_;
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

// Tells when the client of a socket has gone (closed its end, or ended), while that socket's connection
// thread may sit inside a driver: one thread watches every open file's socket.
class HangupWatch {
 public:
  HangupWatch() : epoll_(epoll_create1(EPOLL_CLOEXEC)), wake_(eventfd(0, EFD_CLOEXEC)) {
    epoll_event e{};
    e.events = EPOLLIN;
    e.data.u64 = 0;
    if (epoll_ >= 0 && wake_ >= 0 && epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &e) == 0)
      thread_ = std::thread([this] { Run(); });
  }
  ~HangupWatch() {
    if (thread_.joinable()) {
      const uint64_t one = 1;
      while (write(wake_, &one, sizeof one) < 0 && errno == EINTR) {
      }
      thread_.join();
    }
    if (wake_ >= 0) close(wake_);
    if (epoll_ >= 0) close(epoll_);
  }
  HangupWatch(const HangupWatch&) = delete;
  HangupWatch& operator=(const HangupWatch&) = delete;

  // `gone` runs on the watch's thread once the peer of `fd` has closed or ended (also when it already
  // has), never after Remove(id) returned. 0 when the socket cannot be watched.
  uint64_t Add(int fd, std::function<void()> gone) {
    std::lock_guard guard(lock_);
    const uint64_t id = ++nextId_;
    epoll_event e{};
    e.events = EPOLLRDHUP | EPOLLET;
    e.data.u64 = id;
    if (epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &e) != 0) return 0;
    watched_[id] = {fd, std::move(gone)};
    return id;
  }
  void Remove(uint64_t id) {
    std::lock_guard guard(lock_);
    auto it = watched_.find(id);
    if (it == watched_.end()) return;
    epoll_ctl(epoll_, EPOLL_CTL_DEL, it->second.fd, nullptr);
    watched_.erase(it);
  }

 private:
  void Run() {
    epoll_event events[16];
    for (;;) {
      int n = epoll_wait(epoll_, events, 16, -1);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return;
      for (int i = 0; i < n; ++i) {
        const uint64_t id = events[i].data.u64;  // a copy: the record is packed
        if (id == 0) return;
        // Under the lock, so that Remove waits for a call under way and no call follows it.
        std::lock_guard guard(lock_);
        auto it = watched_.find(id);
        if (it != watched_.end()) it->second.gone();
      }
    }
  }

  struct Watched {
    int fd;
    std::function<void()> gone;
  };
  const int epoll_;
  const int wake_;
  std::mutex lock_;
  std::map<uint64_t, Watched> watched_;
  uint64_t nextId_ = 0;
  std::thread thread_;
};

class Connection : public wdk::Requestor, public wdk::InterfaceListener {
 public:
  Connection(wdk::Kernel& kernel, int fd, std::chrono::milliseconds firstRequestTimeout, DeviceStore& store,
             std::atomic<int>& openFiles, HangupWatch& hangups)
      : kernel_(kernel),
        channel_(std::make_shared<Channel>(fd)),
        firstRequestTimeout_(firstRequestTimeout),
        store_(store),
        openFiles_(openFiles),
        hangups_(hangups) {}

  // Throws std::system_error when no thread can be had.
  void Start() {
    thread_ = std::thread([this] {
      Serve();
      channel_->Shutdown();  // the client learns at once, not when the connection is reaped
      done_ = true;
    });
  }
  // The client is gone, or the host stops: what its file has running is cancelled, as for a process
  // that ended, and nothing new starts.
  void Abandon() {
    std::lock_guard guard(fileLock_);
    abandoned_ = true;
    if (file_) kernel_.CancelFileIo(file_);
  }
  void Shutdown() { channel_->Shutdown(); }
  void Join() { thread_.join(); }
  bool done() const { return done_; }

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

 private:
  void Serve() {
    Message type;
    std::vector<uint8_t> payload;
    if (!SetReceiveTimeout(firstRequestTimeout_) || !link::Receive(channel_->fd(), &type, &payload) ||
        !SetReceiveTimeout(std::chrono::milliseconds(0)))
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
    while (link::Receive(channel_->fd(), &type, &payload)) {
      if (type != Message::Ioctl) break;
      link::Reader request(payload);
      ULONG code = request.U32();
      ULONG outLength = request.U32();
      std::vector<uint8_t> in = request.Rest();
      if (request.failed() || outLength > link::kMaxPayload) break;
      std::vector<uint8_t> out(outLength);
      ULONG_PTR information = 0;
      {
        wdk::ScopedRequestor context(this);
        status = kernel_.DeviceControl(file, code, in.data(), static_cast<ULONG>(in.size()), out.data(), outLength,
                                       &information);
      }
      size_t returned = NT_ERROR(status) ? 0 : std::min<ULONG_PTR>(information, outLength);
      link::Writer answer;
      answer.U32(static_cast<uint32_t>(status)).U64(information).Bytes(out.data(), returned);
      if (!channel_->Send(Message::IoctlDone, answer)) break;
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

  bool SetReceiveTimeout(std::chrono::milliseconds timeout) {
    timeval tv{static_cast<time_t>(timeout.count() / 1000), static_cast<suseconds_t>(timeout.count() % 1000 * 1000)};
    return setsockopt(channel_->fd(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0;
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
  HangupWatch& hangups_;
  std::mutex fileLock_;  // guards the two below
  PFILE_OBJECT file_ = nullptr;
  bool abandoned_ = false;
  std::thread thread_;
  std::atomic<bool> done_{false};
  uint64_t nextRef_ = 0;
  bool allClasses_ = false;
  GUID filter_{};
};

}  // namespace

struct KernelHost::Impl {
  Options options;
  std::unique_ptr<wdk::Kernel> kernel;
  std::filesystem::path socketPath;
  int listenFd = -1;
  std::thread acceptThread;
  std::mutex connectionsLock;
  std::list<std::unique_ptr<Connection>> connections;
  bool stopping = false;
  bool refusing = false;  // said once while at the limit
  std::atomic<int> openFiles{0};
  std::unique_ptr<DeviceStore> store;
  std::unique_ptr<HangupWatch> hangups;

  void ReapFinished() {
    std::list<std::unique_ptr<Connection>> finished;
    {
      std::lock_guard guard(connectionsLock);
      for (auto it = connections.begin(); it != connections.end();) {
        auto next = std::next(it);
        if ((*it)->done()) finished.splice(finished.end(), connections, it);
        it = next;
      }
    }
    for (auto& c : finished) c->Join();
  }

  void AcceptLoop() {
    for (;;) {
      int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) {
        const int error = errno;
        if (error == EINTR || error == ECONNABORTED) continue;
        {
          std::lock_guard guard(connectionsLock);
          if (stopping) return;
        }
        if (error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM) {
          // Out of descriptors: finished connections give theirs back; meanwhile do not spin.
          ReapFinished();
          std::this_thread::sleep_for(std::chrono::milliseconds(20));
          continue;
        }
        return;  // the listening socket was shut down
      }
      ReapFinished();
      std::lock_guard guard(connectionsLock);
      if (stopping) {
        close(fd);
        return;
      }
      if (connections.size() >= options.maxConnections) {
        if (!refusing)
          std::fprintf(stderr, "kernel-host: %zu connections served, further ones are refused\n", connections.size());
        refusing = true;
        close(fd);
        continue;
      }
      refusing = false;
      connections.push_back(
          std::make_unique<Connection>(*kernel, fd, options.firstRequestTimeout, *store, openFiles, *hangups));
      try {
        connections.back()->Start();
      } catch (const std::system_error& e) {
        std::fprintf(stderr, "kernel-host: no thread for a connection (%s), it is refused\n", e.what());
        connections.pop_back();  // closes the socket; its thread never ran
      }
    }
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
  int probe = link::Connect();
  if (probe >= 0) {
    close(probe);
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
  h.hangups = std::make_unique<HangupWatch>();
  h.store->Start(*h.kernel);

  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::string path = h.socketPath.string();
  if (path.size() >= sizeof address.sun_path) {
    errno = ENAMETOOLONG;
    return fail("socket path too long");
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  unlink(path.c_str());  // a stale socket of a host that ended without cleaning up
  h.listenFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (h.listenFd < 0) return fail("socket");
  if (bind(h.listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return fail("bind " + path);
  if (listen(h.listenFd, 64) != 0) return fail("listen");
  h.acceptThread = std::thread([&h] { h.AcceptLoop(); });
  return true;
}

void KernelHost::Stop() {
  Impl& h = *impl_;
  if (h.listenFd >= 0) {
    {
      std::lock_guard guard(h.connectionsLock);
      h.stopping = true;
    }
    shutdown(h.listenFd, SHUT_RDWR);
    if (h.acceptThread.joinable()) h.acceptThread.join();
    close(h.listenFd);
    h.listenFd = -1;
    unlink(h.socketPath.c_str());
  }
  std::list<std::unique_ptr<Connection>> connections;
  {
    std::lock_guard guard(h.connectionsLock);
    connections.swap(h.connections);
  }
  // Requests still waiting in drivers are cancelled first: a connection thread inside one cannot be joined.
  for (auto& c : connections) {
    c->Abandon();
    c->Shutdown();
  }
  for (auto& c : connections) c->Join();
  connections.clear();
  h.hangups.reset();
  h.kernel.reset();
}

}  // namespace tavrin::kernel_host
