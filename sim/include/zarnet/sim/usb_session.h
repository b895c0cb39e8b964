// The data connection of a claimed device: reads each request, lets the virtual device answer it, and
// writes the response (the request's command + 100, SeqNo and EndPoint echoed), per pipe in the order of
// the requests. A reset pipe or an unlink first ends the requests still waiting on its pipe (status -104);
// the unlinked request itself is not answered.
#pragma once
#include <cstdint>
#include <functional>
#include <stop_token>
#include <vector>

#include "zarnet/sim/faults.h"
#include "zarnet/sim/server.h"
#include "zarnet/sim/usb_device.h"

namespace zarnet::sim {

// Faults for the response about to be written (its Command); each fault handed out is used up once.
using DataFaultSource = std::function<std::vector<Fault>(uint32_t response_command)>;
// A source over a fixed list: the faults of target usb whose command is 0 or the response's, each for
// its `times`.
DataFaultSource DataFaultList(std::vector<Fault> faults);

struct UsbSessionOptions {
  LogFunction log;
  DataFaultSource faults;
  int stop_fd = -1;                      // besides the stop token: ends the session once readable
  size_t max_waiting = 1024;             // requests waiting for the device; more ends the connection
  uint32_t max_in_length = 16u << 20;    // longest IN transfer served
};

struct UsbSessionResult {
  enum class End { kPeerClosed, kStopped, kOutOfFrame, kTooManyWaiting, kFaultClosed, kSocketError };
  End end = End::kPeerClosed;
  uint64_t requests = 0;
  uint64_t responses = 0;
};

// Serves one connected socket for `device` until the peer closes it, the stream goes out of frame, or
// `stop` is requested. The device is attached for the duration. The caller closes the socket afterwards;
// a close fault shuts it down here.
UsbSessionResult ServeUsbDataConnection(int socket, VirtualUsbDevice& device, std::stop_token stop,
                                        const UsbSessionOptions& options = {});
// The same for a connection that a simulated server's data service hands over after a claim; it ends
// also when the server stops.
void ServeUsbDataSession(const DataSession& session, VirtualUsbDevice& device, const UsbSessionOptions& options);

}  // namespace zarnet::sim
