// Device handles: CreateFile of an interface path opens a connection to the kernel host that stands for the
// handle; DeviceIoControl sends METHOD_BUFFERED requests over it, the data of large ones through memory
// shared with the host. The caller reads its answer and serves the host's requests about this process's
// events (a driver that was handed an event handle sets the event through it); once a driver holds an
// event, a reader thread per handle does that.
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "../core_internal.h"
#include "base/shared_memory.h"
#include "devices_internal.h"
#include "win32/devices/kernel_link.h"
#include "win32/file.h"
#include "win32/handle.h"
#include "win32/ioctl.h"
#include "win32/sync.h"

namespace tavrin::devices {
namespace {

namespace link = tavrin::kernel_link;
using link::Message;

// NTSTATUS values the mapping below names (the platform layer has no kernel header).
constexpr uint32_t kStatusBufferOverflow = 0x80000005;
constexpr uint32_t kStatusAccessViolation = 0xC0000005;
constexpr uint32_t kStatusUnsuccessful = 0xC0000001;
constexpr uint32_t kStatusInvalidHandle = 0xC0000008;
constexpr uint32_t kStatusInvalidParameter = 0xC000000D;
constexpr uint32_t kStatusNoSuchDevice = 0xC000000E;
constexpr uint32_t kStatusInvalidDeviceRequest = 0xC0000010;
constexpr uint32_t kStatusNoMemory = 0xC0000017;
constexpr uint32_t kStatusAccessDenied = 0xC0000022;
constexpr uint32_t kStatusBufferTooSmall = 0xC0000023;
constexpr uint32_t kStatusObjectTypeMismatch = 0xC0000024;
constexpr uint32_t kStatusObjectNameNotFound = 0xC0000034;
constexpr uint32_t kStatusDeletePending = 0xC0000056;
constexpr uint32_t kStatusInsufficientResources = 0xC000009A;
constexpr uint32_t kStatusDeviceNotConnected = 0xC000009D;
constexpr uint32_t kStatusNotSupported = 0xC00000BB;
constexpr uint32_t kStatusCancelled = 0xC0000120;
constexpr DWORD kErrorOperationAborted = 995;
constexpr DWORD kErrorNoSystemResources = 1450;
constexpr DWORD kErrorDevNotExist = 55;

class DeviceFile : public KernelObject {
 public:
  explicit DeviceFile(int fd) : fd_(fd) {}
  // As CloseHandle on a device does, returns once the driver has run the close: the kernel host sees the
  // end of our requests, closes the file and says so. A host that does not answer is not waited for long.
  ~DeviceFile() override {
    shutdown(fd_, SHUT_WR);
    if (reader_.joinable()) {
      {
        std::unique_lock guard(lock_);
        answered_.wait_for(guard, kCloseTimeout, [&] { return closed_ || broken_; });
      }
      shutdown(fd_, SHUT_RDWR);
      reader_.join();
    } else {
      timeval limit{kCloseTimeout.count(), 0};
      setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
      Message type;
      while (!closed_ && link::Receive(fd_, &type, &payload_)) Take(type);
    }
    close(fd_);
  }

  BOOL Control(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) {
    std::lock_guard call(callLock_);  // one request in flight per handle
    if (!in) inSize = 0;
    const size_t extent = std::max<size_t>(inSize, outSize);
    std::optional<std::vector<uint8_t>> answer;
    std::span<const uint8_t> output;
    if (extent >= kSharedFrom && extent <= link::kMaxPayload && HaveShared(extent)) {
      // The data goes through the memory shared with the host; the socket carries only the request.
      if (inSize) std::memcpy(shared_->data(), in, inSize);
      answer = Call(Message::IoctlShared, link::Writer().U32(code).U32(outSize).U32(inSize));
      if (!answer) return Fail(ERROR_DEVICE_NOT_CONNECTED, returned);
      link::Reader reader(*answer);
      reader.U32();
      reader.U64();
      uint32_t size = reader.U32();
      if (reader.failed() || size > outSize) return Fail(ERROR_GEN_FAILURE, returned);
      output = std::span<const uint8_t>(shared_->data(), size);
    } else {
      std::span<const uint8_t> data(static_cast<const uint8_t*>(in), inSize);
      answer = Call(Message::Ioctl, link::Writer().U32(code).U32(outSize), data);
      if (!answer) return Fail(ERROR_DEVICE_NOT_CONNECTED, returned);
      link::Reader reader(*answer);
      reader.U32();
      reader.U64();
      output = reader.RestInPlace();
      if (reader.failed() || output.size() > outSize) return Fail(ERROR_GEN_FAILURE, returned);
    }
    link::Reader reader(*answer);
    uint32_t status = reader.U32();
    uint64_t information = reader.U64();
    if (!output.empty()) std::memcpy(out, output.data(), output.size());
    bool success = static_cast<int32_t>(status) >= 0 && status != kStatusBufferOverflow;
    if (returned) *returned = static_cast<DWORD>(success ? output.size() : std::min<uint64_t>(information, 0xFFFFFFFF));
    if (success) return TRUE;
    SetLastError(ErrorFromNtStatus(static_cast<int32_t>(status)));
    return FALSE;
  }

 private:
  static BOOL Fail(DWORD error, DWORD* returned) {
    if (returned) *returned = 0;
    SetLastError(error);
    return FALSE;
  }

  bool Send(Message type, const link::Writer& payload, std::span<const uint8_t> tail = {}) {
    std::lock_guard guard(writeLock_);
    return link::Send(fd_, type, payload, tail);
  }

  // Sends a request (with a descriptor, or -1) and waits for its answer. Until a driver holds one of this
  // process's events the caller reads the answer itself, serving what the host asks meanwhile: no other
  // thread wakes for it. From then on the host may set the event at any time, so a reader thread takes
  // every message and hands the answers over.
  std::optional<std::vector<uint8_t>> Call(Message type, const link::Writer& request, std::span<const uint8_t> tail = {},
                                           int descriptor = -1) {
    if (reader_.joinable()) {
      std::lock_guard guard(lock_);
      answer_.reset();
    }
    bool sent;
    if (descriptor >= 0) {
      std::lock_guard guard(writeLock_);
      sent = link::SendWithDescriptor(fd_, type, request, descriptor);
    } else {
      sent = Send(type, request, tail);
    }
    if (!sent) return std::nullopt;
    if (reader_.joinable()) {
      std::unique_lock guard(lock_);
      answered_.wait(guard, [&] { return answer_ || broken_; });
      return std::move(answer_);
    }
    Message answerType;
    for (;;) {
      if (!link::Receive(fd_, &answerType, &payload_)) return std::nullopt;
      if (answerType == Message::IoctlDone || answerType == Message::SharedBufferTaken) break;
      Take(answerType);
    }
    std::optional<std::vector<uint8_t>> answer(std::move(payload_));
    if (!events_.empty()) reader_ = std::thread([this] { Read(); });
    return answer;
  }

  // Memory shared with the host of at least `size` bytes; false when the host cannot take any (the
  // socket then carries the data, as for small requests).
  bool HaveShared(size_t size) {
    if (shared_ && shared_->size() >= size) return true;
    if (sharedRefused_) return false;
    size_t room = kSharedFrom;
    while (room < size) room *= 2;
    auto memory = base::SharedMemory::Create(std::min<size_t>(room, link::kMaxPayload));
    if (!memory) return false;
    auto answer = Call(Message::SharedBuffer, link::Writer().U64(memory->size()), {}, memory->descriptor());
    if (!answer) return false;
    link::Reader reader(*answer);
    if (static_cast<int32_t>(reader.U32()) < 0 || reader.failed()) {
      sharedRefused_ = true;
      return false;
    }
    shared_ = std::move(memory);
    return true;
  }

  void Read() {
    Message type;
    while (link::Receive(fd_, &type, &payload_)) {
      if (type == Message::IoctlDone || type == Message::SharedBufferTaken) {
        std::lock_guard guard(lock_);
        answer_ = std::move(payload_);
        answered_.notify_all();
      } else {
        Take(type);
      }
    }
    std::lock_guard guard(lock_);
    broken_ = true;
    answered_.notify_all();
  }

  // A message of the host's other than an answer, in payload_.
  void Take(Message type) {
    link::Reader reader(payload_);
    switch (type) {
      case Message::Closed: {
        std::lock_guard guard(lock_);
        closed_ = true;
        answered_.notify_all();
        break;
      }
      case Message::ReferenceEvent: {
        uint64_t ref = reader.U64();
        auto handle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(reader.U64()));
        uint32_t status = kStatusInvalidHandle;
        if (auto event = LookupHandleAs<core::Event>(handle)) {
          events_[ref] = std::move(event);
          status = 0;
        } else if (LookupHandle(handle)) {
          status = kStatusObjectTypeMismatch;
        }
        Send(Message::EventAnswer, link::Writer().U32(status));
        break;
      }
      case Message::SetEvent: {
        uint64_t ref = reader.U64();
        bool set = reader.U8() != 0;
        if (auto it = events_.find(ref); it != events_.end()) set ? it->second->Set() : it->second->Reset();
        break;
      }
      case Message::ReleaseEvent:
        events_.erase(reader.U64());
        break;
      case Message::ReadMemory: {
        uint64_t address = reader.U64();
        uint32_t length = reader.U32();
        link::Writer answer;
        std::vector<uint8_t> bytes;
        if (!reader.failed() && length <= link::kMaxPayload && ReadOwnMemory(address, length, &bytes))
          answer.U32(0).Bytes(bytes.data(), bytes.size());
        else
          answer.U32(kStatusAccessViolation);
        Send(Message::MemoryAnswer, answer);
        break;
      }
      default:
        break;
    }
  }

  // A driver reads a buffer of this process by its address: through the kernel, so that an address that
  // is not mapped fails instead of faulting.
  static bool ReadOwnMemory(uint64_t address, uint32_t length, std::vector<uint8_t>* out) {
    out->resize(length);
    if (length == 0) return true;
    iovec local{out->data(), length};
    iovec remote{reinterpret_cast<void*>(static_cast<uintptr_t>(address)), length};
    return process_vm_readv(getpid(), &local, 1, &remote, 1, 0) == static_cast<ssize_t>(length);
  }

  // Requests whose data reach this size go through shared memory.
  static constexpr size_t kSharedFrom = 16 * 1024;
  static constexpr std::chrono::seconds kCloseTimeout{10};
  const int fd_;
  std::thread reader_;  // only once a driver holds one of our events
  std::mutex callLock_;
  std::mutex writeLock_;
  std::mutex lock_;  // guards answer_, broken_ and closed_ while the reader thread runs
  std::condition_variable answered_;
  std::optional<std::vector<uint8_t>> answer_;
  bool broken_ = false;
  bool closed_ = false;
  // The message being read: the reader thread's, or the caller's while there is no reader thread.
  std::vector<uint8_t> payload_;
  std::unique_ptr<base::SharedMemory> shared_;  // the caller's (callLock_)
  bool sharedRefused_ = false;
  // Events referenced by drivers, kept alive as the kernel keeps a referenced object (whoever reads).
  std::map<uint64_t, std::shared_ptr<core::Event>> events_;
};

HANDLE OpenDevicePath(const std::string& path, DWORD access) {
  int fd = link::Connect();
  if (fd < 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  // Until the host has opened the file there is no file to close: a refused open just drops the socket.
  auto refuse = [fd](DWORD error) {
    close(fd);
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  };
  Message type;
  std::vector<uint8_t> payload;
  if (!link::Send(fd, Message::Open, link::Writer().U32(access).String(path)) ||
      !link::Receive(fd, &type, &payload) || type != Message::Opened)
    return refuse(ERROR_FILE_NOT_FOUND);
  link::Reader reader(payload);
  auto status = static_cast<int32_t>(reader.U32());
  if (reader.failed() || status < 0) return refuse(reader.failed() ? ERROR_GEN_FAILURE : ErrorFromNtStatus(status));
  return InsertHandle(std::make_shared<DeviceFile>(fd));  // owns fd from here on
}

}  // namespace

DWORD ErrorFromNtStatus(int32_t status) {
  switch (static_cast<uint32_t>(status)) {
    case 0: return ERROR_SUCCESS;
    case kStatusBufferOverflow: return ERROR_MORE_DATA;
    case kStatusBufferTooSmall: return ERROR_INSUFFICIENT_BUFFER;
    case kStatusAccessViolation: return ERROR_NOACCESS;
    case kStatusUnsuccessful: return ERROR_GEN_FAILURE;
    case kStatusInvalidParameter: return ERROR_INVALID_PARAMETER;
    case kStatusInvalidDeviceRequest: return ERROR_INVALID_FUNCTION;
    case kStatusInvalidHandle:
    case kStatusObjectTypeMismatch: return ERROR_INVALID_HANDLE;
    case kStatusAccessDenied:
    case kStatusDeletePending: return ERROR_ACCESS_DENIED;
    case kStatusObjectNameNotFound: return ERROR_FILE_NOT_FOUND;
    case kStatusNoSuchDevice: return kErrorDevNotExist;
    case kStatusNoMemory: return ERROR_NOT_ENOUGH_MEMORY;
    case kStatusInsufficientResources: return kErrorNoSystemResources;
    case kStatusDeviceNotConnected: return ERROR_DEVICE_NOT_CONNECTED;
    case kStatusNotSupported: return ERROR_NOT_SUPPORTED;
    case kStatusCancelled: return kErrorOperationAborted;
    default: return ERROR_GEN_FAILURE;
  }
}

void InstallDeviceOpener() {
  static std::once_flag once;
  std::call_once(once, [] { RegisterDevicePathOpener(OpenDevicePath); });
}

}  // namespace tavrin::devices

BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                     LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned, LPOVERLAPPED lpOverlapped) {
  auto file = tavrin::LookupHandleAs<tavrin::devices::DeviceFile>(hDevice);
  if (!file) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (lpOverlapped || (nInBufferSize && !lpInBuffer) || (nOutBufferSize && !lpOutBuffer) ||
      METHOD_FROM_CTL_CODE(dwIoControlCode) != METHOD_BUFFERED) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return file->Control(dwIoControlCode, lpInBuffer, nInBufferSize, lpOutBuffer, nOutBufferSize, lpBytesReturned);
}
