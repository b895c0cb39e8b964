// pelkobus, the virtual USB bus driver: its entry for the kernel host and the few settings the host
// (or a test) may change before the first device node needs it.
#pragma once
#include <cstddef>
#include <cstdint>

#include "wdk/wdm.h"

namespace pelkobus {

inline constexpr char kService[] = "VUSB";

NTSTATUS DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath);

// How long one negotiation step waits for the server's whole reply (default 10 s).
void SetNegotiationTimeout(uint32_t milliseconds);
// The printer retry delay (default 5 s).
void SetPrinterRetryDelay(uint32_t milliseconds);
// How long one connect to a server's data port, or one disconnect, may take (default 180 s).
void SetConnectTimeout(uint32_t milliseconds);

// How long the first isochronous requests of a new pipe are held back to gather (default 5 ms).
void SetIsochHoldBack(uint32_t milliseconds);

// How long an abort pipe waits after failing the pipe's requests (default 200 ms).
void SetAbortPipeDelay(uint32_t milliseconds);

// Hands bytes to a child's response path as its connection's receive does (for fuzzing the response
// handling without a network in between); `device` is any device object of the child's stack.
void FeedResponseBytes(PDEVICE_OBJECT device, const uint8_t* data, size_t length);

// Counts for leak checks: live child devices and open negotiation or data connections of them.
long LiveChildren();

}  // namespace pelkobus
