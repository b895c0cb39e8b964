// The composite parent: the driver plug and play loads on a USB device of several interfaces (compatible
// identifier "USB\COMPOSITE"). It sits on the device's stack, selects the first configuration with setting
// 0 of every interface, and makes one child device per interface ("USB\VID_xxxx&PID_xxxx&MI_nn", compatible
// "USB\Class_xx&SubClass_xx&Prot_xx", ...), so that each interface gets the driver of its own class. A
// child's requests go to the device as they are, except the ones that concern the configuration: the
// child reads a configuration descriptor holding only its interface, and selecting that configuration
// hands it the interface's part of the parent's selection.
#pragma once
#include "wdk/kernel.h"

namespace tavrin::kernel_host::usb_composite {

inline constexpr char kService[] = "usbcomposite";
void Register(wdk::Kernel& kernel);

}  // namespace tavrin::kernel_host::usb_composite
