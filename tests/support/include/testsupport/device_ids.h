// The identifier lists a device arrival hands the bus driver: the hardware IDs, then the compatible IDs,
// each one UTF-16 string ended by a double NUL, as one block the request points at. Header only: the bench
// and fuzz programs use it too.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "pelkobus/records.h"

namespace tavrin::test {

class DeviceIds {
 public:
  DeviceIds() = default;
  DeviceIds(const std::u16string& hardwareId, const std::u16string& compatibleId) {
    text_ = hardwareId;
    text_.append(2, u'\0');
    hardwareBytes_ = text_.size() * 2;
    text_ += compatibleId;
    text_.append(2, u'\0');
  }
  // Points the request at the lists (kept here: they must outlive the request's use).
  void FillRequest(DEVICE_ARRIVALREMOVAL_INFO& r) const {
    r.TotalSize = static_cast<uint32_t>(text_.size() * 2);
    r.HardwareIdSize = static_cast<uint32_t>(hardwareBytes_);
    r.Ids = reinterpret_cast<uintptr_t>(text_.data());
  }

 private:
  std::u16string text_;
  size_t hardwareBytes_ = 0;
};

}  // namespace tavrin::test
