// URBs that the kernel host's USB drivers (the function driver and the composite parent) send down their
// device's stack and wait for, and the configuration they read and select when their device starts.
#pragma once
#include <cstdint>
#include <vector>

#include "wdk/usb.h"
#include "wdk/wdm.h"

namespace tavrin::kernel_host::usb_requests {

// 5 s: a start never waits for ever on a silent server.
inline constexpr LONGLONG kStartTimeout = -50'000'000;

// A URB on its way down. The completion routine keeps the IRP from the I/O manager, so a cancel can still
// reach it after the bus driver has completed it; Finish hands it back and gives its status.
struct Submission {
  KEVENT completed;
  IO_STATUS_BLOCK iosb{};
  PIRP irp = nullptr;
};

// Sends the URB to `lower`; false when no IRP could be had.
bool Begin(PDEVICE_OBJECT lower, Submission* s, void* urb);
// Waits for the completion; false when `cancelled` (none when null) was set first or `timeout` (100 ns
// units, negative: relative; none when null) passed.
bool WaitCompleted(Submission* s, PKEVENT cancelled, LARGE_INTEGER* timeout = nullptr);
// Waits for the completion however long it takes, frees the IRP and gives its status.
NTSTATUS Finish(Submission* s);
// Sends a URB down and waits for it; the IRP's status. A request still running when `cancelled` is set or
// `timeout` (100 ns units, relative when negative; 0: none) passes is cancelled.
NTSTATUS SubmitUrb(PDEVICE_OBJECT lower, void* urb, PKEVENT cancelled, LONGLONG timeout = 0);

// The device descriptor (18 bytes) and the whole first configuration, read within the start's time-out.
NTSTATUS ReadDescriptors(PDEVICE_OBJECT lower, std::vector<uint8_t>* device, std::vector<uint8_t>* config);

// Where each descriptor of a configuration starts, walked by bLength within the bytes held.
template <class Visit>
void ForEachDescriptor(const std::vector<uint8_t>& config, Visit visit) {
  if (config.empty()) return;
  for (size_t at = config[0]; at + 2 <= config.size() && config[at] >= 2 && at + config[at] <= config.size();
       at += config[at])
    visit(at);
}

// A configuration selected with setting 0 of each of its interfaces: the select URB and its entries.
class Selection {
 public:
  // Selects `config` on `lower` (within the start's time-out), room for `maxPipes` pipes an interface.
  NTSTATUS Select(PDEVICE_OBJECT lower, const std::vector<uint8_t>& config, ULONG maxPipes);
  USBD_CONFIGURATION_HANDLE handle() const;
  size_t count() const { return count_; }
  USBD_INTERFACE_INFORMATION* entry(size_t i) {
    return reinterpret_cast<USBD_INTERFACE_INFORMATION*>(memory_.data() + kFirstEntry + i * entrySize_);
  }

 private:
  static constexpr size_t kFirstEntry = offsetof(URB_SELECT_CONFIGURATION, Interface);
  std::vector<uint8_t> memory_;
  size_t count_ = 0;
  USHORT entrySize_ = 0;
};

}  // namespace tavrin::kernel_host::usb_requests
