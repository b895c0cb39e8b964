// Device-interface notifications: each registration is a subscription connection to the kernel host whose
// reader thread posts WM_DEVICECHANGE to the registered window.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "devices_internal.h"
#include "win32/devices/kernel_link.h"
#include "win32/handle.h"
#include "win32/ioctl.h"
#include "win32/sync.h"
#include "win32/user.h"

namespace tavrin::devices {
namespace {

namespace link = tavrin::kernel_link;

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

class Notification : public KernelObject {
 public:
  Notification(int fd, HWND window) : fd_(fd), window_(window) {}
  ~Notification() override {
    shutdown(fd_, SHUT_RDWR);
    if (reader_.joinable()) reader_.join();
    close(fd_);
  }

  // Delivers the notices that came before the host confirmed the subscription, then reads on.
  void Start(std::vector<std::vector<uint8_t>> early) {
    reader_ = std::thread([this, early = std::move(early)] {
      for (const auto& payload : early) Deliver(payload);
      link::Message type;
      std::vector<uint8_t> payload;
      while (link::Receive(fd_, &type, &payload))
        if (type == link::Message::InterfaceChange) Deliver(payload);
    });
  }

 private:
  void Deliver(const std::vector<uint8_t>& payload) {
    link::Reader reader(payload);
    bool arrival = reader.U8() != 0;
    GUID interfaceClass = reader.Guid();
    std::string path = reader.String();
    if (reader.failed()) return;
    auto record = std::make_unique<BroadcastRecord>();
    std::memset(record->bytes, 0, sizeof record->bytes);
    path.resize(std::min<size_t>(path.size(), MAX_PATH - 1));
    DEV_BROADCAST_DEVICEINTERFACE head{};
    head.dbcc_size = static_cast<DWORD>(offsetof(DEV_BROADCAST_DEVICEINTERFACE, dbcc_name) + path.size() + 1);
    head.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    head.dbcc_classguid = interfaceClass;
    std::memcpy(record->bytes, &head, offsetof(DEV_BROADCAST_DEVICEINTERFACE, dbcc_name));
    std::memcpy(record->bytes + offsetof(DEV_BROADCAST_DEVICEINTERFACE, dbcc_name), path.c_str(), path.size() + 1);
    LPARAM lParam = Recent().Keep(std::move(record));
    PostMessage(window_, WM_DEVICECHANGE, arrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE, lParam);
  }

  const int fd_;
  const HWND window_;
  std::thread reader_;
};

}  // namespace
}  // namespace tavrin::devices

HDEVNOTIFY RegisterDeviceNotification(HANDLE hRecipient, LPVOID NotificationFilter, DWORD Flags) {
  namespace link = tavrin::kernel_link;
  auto* filter = static_cast<DEV_BROADCAST_DEVICEINTERFACE*>(NotificationFilter);
  if (!filter || (Flags & ~DEVICE_NOTIFY_ALL_INTERFACE_CLASSES) != DEVICE_NOTIFY_WINDOW_HANDLE ||
      filter->dbcc_devicetype != DBT_DEVTYP_DEVICEINTERFACE || filter->dbcc_size < sizeof(DEV_BROADCAST_DEVICEINTERFACE) ||
      !IsWindow(static_cast<HWND>(hRecipient))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  tavrin::devices::InstallDeviceOpener();
  int fd = link::Connect();
  if (fd < 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);  // no kernel host serves this sysroot
    return nullptr;
  }
  auto notification = std::make_shared<tavrin::devices::Notification>(fd, static_cast<HWND>(hRecipient));
  bool allClasses = Flags & DEVICE_NOTIFY_ALL_INTERFACE_CLASSES;
  if (!link::Send(fd, link::Message::Subscribe, link::Writer().U8(allClasses ? 1 : 0).Guid(filter->dbcc_classguid))) {
    SetLastError(ERROR_GEN_FAILURE);
    return nullptr;
  }
  std::vector<std::vector<uint8_t>> early;
  link::Message type;
  std::vector<uint8_t> payload;
  for (;;) {
    if (!link::Receive(fd, &type, &payload)) {
      SetLastError(ERROR_GEN_FAILURE);
      return nullptr;
    }
    if (type == link::Message::Subscribed) break;
    if (type == link::Message::InterfaceChange) early.push_back(payload);
  }
  notification->Start(std::move(early));
  return tavrin::InsertHandle(notification);
}

BOOL UnregisterDeviceNotification(HDEVNOTIFY Handle) {
  if (!tavrin::LookupHandleAs<tavrin::devices::Notification>(Handle) || !tavrin::RemoveHandle(Handle)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}
