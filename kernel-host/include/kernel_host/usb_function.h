// The function driver that plug and play loads on a USB child of the bus driver until a device's own
// driver is there: matched by the children's compatible identifiers ("USB\Class_XX"), it sits on the
// child's stack and passes every request down, so the child is started and removed like any device. On
// start it reads the descriptors and selects the first configuration, then offers GUID_DEVINTERFACE_USBFUNC
// through which user programs run transfers (usb_function_records.h).
#pragma once
#include "wdk/kernel.h"

namespace tavrin::kernel_host::usb_function {

inline constexpr char kService[] = "usbfunc";
void Register(wdk::Kernel& kernel);

}  // namespace tavrin::kernel_host::usb_function
