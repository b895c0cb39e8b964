// The sockets the server manager opens: the discovery datagram socket and one command connection to a
// server's TCP port 1341. Both go through the bsd seam, so tests and demos stay on loopback.
#pragma once

// An IPv4 datagram socket with broadcast allowed and a 2-second receive time-out, not bound. A process
// that cannot make one cannot work: it ends with status 1 after its console line.
int createUDPSocket();
// A blocking connection to the address's port 1341, made within the connect time-out (5 s); 0 for any
// failure, with the socket closed. Descriptor 0 is never handed out.
int createTCPSocket(const char* address);

namespace tavrinmac {
// The connect time-out of createTCPSocket, in milliseconds (tests shorten it).
void SetConnectTimeoutMs(int ms);
}  // namespace tavrinmac
