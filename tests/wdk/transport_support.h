// What the tests of the kernel's waits and of the TCP transport share: relative timeouts, opening the
// transport's address and connection objects, and the transport form of a socket address.
#pragma once
#include <netinet/in.h>

#include <chrono>
#include <cstddef>

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

}  // namespace wdk_test
