// What the tests of the kernel's waits and of the TCP transport share: relative timeouts, opening the
// transport's address and connection objects, the transport form of a socket address, requests in flight
// and a connection object connected to a peer socket of the test's own.
#pragma once
#include <netinet/in.h>

#include <chrono>
#include <cstddef>
#include <vector>

#include "wdk/kernel.h"
#include "wdk/tdi.h"

namespace wdk_test {

// A kernel wait's relative timeout (negative 100 ns units).
LARGE_INTEGER Relative(std::chrono::milliseconds ms);

// Opens "\Device\Tcp" with one extended attribute (TdiTransportAddress or TdiConnectionContext, with a
// value of that length) and references the file object.
NTSTATUS OpenTcp(const char* eaName, size_t valueLength, HANDLE* handle, PFILE_OBJECT* file);

// The transport's address of an IPv4 socket address.
TA_IP_ADDRESS TransportAddress(const sockaddr_in& at);

// A socket listening on 127.0.0.1 at a port of its own (`at`), with the receive buffer given (0: the usual);
// -1 when none could be had.
int ListenOnLoopback(sockaddr_in* at, int receiveBuffer = 0);

// A transport request in flight with its own event and status block.
struct Pending {
  KEVENT done;
  IO_STATUS_BLOCK iosb{};
  PMDL mdl = nullptr;
  NTSTATUS issued = STATUS_SUCCESS;

  template <class Fill>
  void Issue(PFILE_OBJECT file, UCHAR minor, Fill fill, PIO_COMPLETION_ROUTINE routine = nullptr, PVOID context = nullptr) {
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    PDEVICE_OBJECT device = IoGetRelatedDeviceObject(file);
    PIRP irp = IoBuildDeviceIoControlRequest(0, device, nullptr, 0, nullptr, 0, TRUE, &done, &iosb);
    TdiBuildRequest(irp, device, file, minor, routine, context);
    fill(irp);
    issued = IoCallDriver(device, irp);
  }
  bool Wait(std::chrono::milliseconds limit) {
    LARGE_INTEGER t = Relative(limit);
    return KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, &t) == STATUS_SUCCESS;
  }
  ~Pending() {
    if (mdl) IoFreeMdl(mdl);
  }
};

// A connection object connected to a peer socket of the test's own.
class Connected {
 public:
  Connected();
  ~Connected();
  PFILE_OBJECT connection = nullptr;
  int peer = -1;

 private:
  int listener_ = -1;
  HANDLE addressHandle_ = nullptr, connectionHandle_ = nullptr;
  PFILE_OBJECT address_ = nullptr;
};

// A send of `data` (kept alive by the caller) through `p`, with an optional completion routine.
void SendOf(Pending& p, PFILE_OBJECT connection, std::vector<uint8_t>& data, PIO_COMPLETION_ROUTINE routine = nullptr,
            PVOID context = nullptr);

}  // namespace wdk_test
