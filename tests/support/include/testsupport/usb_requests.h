// The request side of a simulated server's USB data session, as the tests, benchmarks and fuzz targets
// that script the server's answers read it. No test framework: the bench and fuzz programs build it too.
#pragma once
#include <cstdint>
#include <functional>
#include <vector>

#include "zarnet/sim/server.h"
#include "zarnet/sim/usb_device.h"
#include "zarnet/usb_wire.h"

namespace tavrin::test {

// Reads the session's requests until the server stops, the peer closes or the stream breaks, handing each
// whole request to `handle` in the order it arrived.
void ServeRequests(const zarnet::sim::DataSession& session,
                   const std::function<void(zarnet::UsbRequestMessage& request)>& handle);

// Sends all of `bytes` on a non-blocking socket, waiting up to a second at a time while it is full; stops
// early on an error.
void SendAll(int socket, const std::vector<uint8_t>& bytes);

// Answers a control request on the session from `device`, as the simulator would.
void AnswerControl(const zarnet::sim::DataSession& session, zarnet::sim::VirtualUsbDevice& device,
                   const zarnet::UsbRequestMessage& request);

}  // namespace tavrin::test
