// Device-interface notifications: each registration is a subscription connection to the kernel host whose
// reader thread posts WM_DEVICECHANGE to the registered window. The registration keeps the interfaces it
// knows to be present: when the kernel host goes away they are all removed, and when it is back (the
// registration tries again every reconnect interval) the ones it then offers arrive.
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "devices_internal.h"
#include "win32/devices/kernel_link.h"
#include "win32/handle.h"
#include "win32/ioctl.h"
#include "win32/sync.h"
#include "win32/system_hooks.h"

namespace tavrin::kernel_link {
namespace {
std::atomic<int64_t> reconnectMilliseconds{1000};
}
void SetReconnectInterval(std::chrono::milliseconds interval) { reconnectMilliseconds = interval.count(); }
std::chrono::milliseconds ReconnectInterval() { return std::chrono::milliseconds(reconnectMilliseconds.load()); }
}  // namespace tavrin::kernel_link

namespace tavrin::devices {
namespace {

namespace link = tavrin::kernel_link;

constexpr UINT kDeviceChange = 0x0219;  // WM_DEVICECHANGE of the windowing layer

struct BroadcastRecord {
  alignas(DEV_BROADCAST_DEVICEINTERFACE) unsigned char bytes[sizeof(DEV_BROADCAST_DEVICEINTERFACE) + MAX_PATH];
};

// A posted message's lParam must outlive the post, also past the end of its registration: the process keeps
// the last records of all registrations.
class RecentRecords {
 public:
  LPARAM Keep(std::unique_ptr<BroadcastRecord> record) {
    std::lock_guard guard(lock_);
    LPARAM lParam = reinterpret_cast<LPARAM>(record->bytes);
    records_.push_back(std::move(record));
    if (records_.size() > kKept) records_.pop_front();
    return lParam;
  }

 private:
  static constexpr size_t kKept = 64;
  std::mutex lock_;
  std::deque<std::unique_ptr<BroadcastRecord>> records_;
};

RecentRecords& Recent() {
  static auto* recent = new RecentRecords;  // never destroyed: a message may still be handled at exit
  return *recent;
}

struct Notice {
  bool arrival;
  GUID interfaceClass;
  std::string path;
};

bool Decode(const std::vector<uint8_t>& payload, Notice* notice) {
  link::Reader reader(payload);
  notice->arrival = reader.U8() != 0;
  notice->interfaceClass = reader.Guid();
  notice->path = reader.String();
  return !reader.failed();
}

struct GuidLess {
  bool operator()(const GUID& a, const GUID& b) const { return std::memcmp(&a, &b, sizeof a) < 0; }
};

// Connects and subscribes; the notices that came before the host confirmed go to *early. -1 when no host
// answers.
int Subscribe(bool allClasses, const GUID& filter, std::vector<Notice>* early) {
  int fd = link::Connect();
  if (fd < 0) return -1;
  link::Message type;
  std::vector<uint8_t> payload;
  if (link::Send(fd, link::Message::Subscribe, link::Writer().U8(allClasses ? 1 : 0).Guid(filter))) {
    while (link::Receive(fd, &type, &payload)) {
      if (type == link::Message::Subscribed) return fd;
      Notice notice;
      if (type == link::Message::InterfaceChange && Decode(payload, &notice)) early->push_back(std::move(notice));
    }
  }
  close(fd);
  return -1;
}

class Notification : public KernelObject {
 public:
  Notification(HWND window, bool allClasses, const GUID& filter)
      : window_(window), allClasses_(allClasses), filter_(filter) {}
  ~Notification() override {
    {
      std::lock_guard guard(lock_);
      stopping_ = true;
      if (fd_ >= 0) shutdown(fd_, SHUT_RDWR);
      wake_.notify_all();
    }
    if (reader_.joinable()) reader_.join();
    if (fd_ >= 0) close(fd_);
  }

  // The first subscription; false when no kernel host answers.
  bool Subscribe() {
    std::vector<Notice> early;
    fd_ = devices::Subscribe(allClasses_, filter_, &early);
    if (fd_ < 0) return false;
    TakeSnapshot(false);
    reader_ = std::thread([this, early = std::move(early)] {
      for (const Notice& notice : early) Deliver(notice);
      Run();
    });
    return true;
  }

 private:
  void Run() {
    for (;;) {
      link::Message type;
      std::vector<uint8_t> payload;
      Notice notice;
      while (link::Receive(fd_, &type, &payload))
        if (type == link::Message::InterfaceChange && Decode(payload, &notice)) Deliver(notice);
      {
        std::lock_guard guard(lock_);
        if (stopping_) return;
        close(fd_);
        fd_ = -1;
      }
      // The host is gone, and with it every interface it offered.
      for (const auto& [path, interfaceClass] : present_) Post({false, interfaceClass, path});
      present_.clear();
      if (!Reconnect()) return;
      TakeSnapshot(true);
    }
  }

  // Tries every reconnect interval until a host answers; false when the registration ends first.
  bool Reconnect() {
    for (;;) {
      {
        std::unique_lock guard(lock_);
        wake_.wait_for(guard, link::ReconnectInterval(), [&] { return stopping_; });
        if (stopping_) return false;
      }
      std::vector<Notice> early;  // older than the snapshot taken next
      int fd = devices::Subscribe(allClasses_, filter_, &early);
      if (fd < 0) continue;
      std::lock_guard guard(lock_);
      if (stopping_) {
        close(fd);
        return false;
      }
      fd_ = fd;
      return true;
    }
  }

  // Learns which interfaces are present (their classes: the filter's, or those met so far); after a
  // reconnection they are announced.
  void TakeSnapshot(bool announce) {
    if (!allClasses_) classes_.insert(filter_);
    for (const GUID& interfaceClass : classes_) {
      for (const InterfaceMember& member : QueryInterfaces(interfaceClass, true)) {
        if (!member.enabled || present_.count(member.path)) continue;
        present_.emplace(member.path, interfaceClass);
        if (announce) Post({true, interfaceClass, member.path});
      }
    }
  }

  // A notice from the host: kept track of, then posted.
  void Deliver(const Notice& notice) {
    classes_.insert(notice.interfaceClass);
    if (notice.arrival)
      present_[notice.path] = notice.interfaceClass;
    else
      present_.erase(notice.path);
    Post(notice);
  }

  void Post(const Notice& notice) {
    auto record = std::make_unique<BroadcastRecord>();
    std::memset(record->bytes, 0, sizeof record->bytes);
    std::string path = notice.path.substr(0, std::min<size_t>(notice.path.size(), MAX_PATH - 1));
    DEV_BROADCAST_DEVICEINTERFACE head{};
    head.dbcc_size = static_cast<DWORD>(offsetof(DEV_BROADCAST_DEVICEINTERFACE, dbcc_name) + path.size() + 1);
    head.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    head.dbcc_classguid = notice.interfaceClass;
    std::memcpy(record->bytes, &head, offsetof(DEV_BROADCAST_DEVICEINTERFACE, dbcc_name));
    std::memcpy(record->bytes + offsetof(DEV_BROADCAST_DEVICEINTERFACE, dbcc_name), path.c_str(), path.size() + 1);
    LPARAM lParam = Recent().Keep(std::move(record));
    const WPARAM event = notice.arrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE;
    tavrin::system_hooks::Installed().postMessage(window_, kDeviceChange, event, lParam);
  }

  const HWND window_;
  const bool allClasses_;
  const GUID filter_;
  std::thread reader_;
  std::mutex lock_;  // guards fd_ changes against the destructor, and stopping_
  std::condition_variable wake_;
  int fd_ = -1;
  bool stopping_ = false;
  // The reader thread's own (before it starts: Subscribe's).
  std::map<std::string, GUID> present_;  // interface path -> class
  std::set<GUID, GuidLess> classes_;
};

}  // namespace
}  // namespace tavrin::devices

HDEVNOTIFY RegisterDeviceNotification(HANDLE hRecipient, LPVOID NotificationFilter, DWORD Flags) {
  auto* filter = static_cast<DEV_BROADCAST_DEVICEINTERFACE*>(NotificationFilter);
  auto isWindow = tavrin::system_hooks::Installed().isWindow;  // none without the windowing layer
  if (!filter || (Flags & ~DEVICE_NOTIFY_ALL_INTERFACE_CLASSES) != DEVICE_NOTIFY_WINDOW_HANDLE ||
      filter->dbcc_devicetype != DBT_DEVTYP_DEVICEINTERFACE || filter->dbcc_size < sizeof(DEV_BROADCAST_DEVICEINTERFACE) ||
      !isWindow || !isWindow(static_cast<HWND>(hRecipient))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  tavrin::devices::InstallDeviceOpener();
  bool allClasses = Flags & DEVICE_NOTIFY_ALL_INTERFACE_CLASSES;
  auto notification =
      std::make_shared<tavrin::devices::Notification>(static_cast<HWND>(hRecipient), allClasses, filter->dbcc_classguid);
  if (!notification->Subscribe()) {
    SetLastError(ERROR_FILE_NOT_FOUND);  // no kernel host serves this sysroot
    return nullptr;
  }
  return tavrin::InsertHandle(notification);
}

BOOL UnregisterDeviceNotification(HDEVNOTIFY Handle) {
  if (!tavrin::LookupHandleAs<tavrin::devices::Notification>(Handle) || !tavrin::RemoveHandle(Handle)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}
