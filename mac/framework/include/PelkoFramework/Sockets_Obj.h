// The receiver of the servers' device-list datagrams (UDP port 6000). The socket is framework-wide, so
// that a fresh object per datagram can receive on the socket that one listening object opened.
#pragma once
#include "PelkoFramework/records.h"
#include "cocoa/Foundation.h"
#include "cocoa/bsd.h"

// Framework-wide: the socket every Sockets_Obj receives on, the address setServer:: copied last, and
// the sender of the datagram received last.
extern int sock;
extern sockaddr_in addr;
extern sockaddr* devAddress;

class Sockets_Obj : public NSObject {
 public:
  Sockets_Obj* init() { return this; }
  // Creates the socket and binds it to port 6000 on every address; 1 done, 0 failed (message on
  // standard error).
  char connect_server(id unused);
  // Waits for one datagram; its buffer (2794 bytes) belongs to the caller once the next recvMsg on this
  // object or the object's end comes. Null when the receive failed (the socket was closed, for one).
  // Datagrams shorter than their 8-byte header, or whose infolen is below 8, are dropped.
  pelko_dev_info* recvMsg();
  char* devAddrs() { return devAddr_; }
  sockaddr_in* serverAddr() { return &addr; }
  int socketFd() const;
  void setServer(sockaddr_in* address, int descriptor);
  // Closes the socket; a receive blocked on it in another thread returns null first.
  void closeDev();

  // Bytes of the datagram received last, and its whole entries within what arrived.
  long receivedLength() const { return received_; }
  int deviceCount() const { return pelko_dev_ ? DeviceListEntryCount(pelko_dev_, received_) : 0; }

  const char* className() const override { return "Sockets_Obj"; }

 private:
  pelko_dev_info* pelko_dev_ = nullptr;
  int cmd_len_ = 0;
  sockaddr_in from_{};
  socklen_t from_len_ = 0;
  char devAddr_[20] = {};
  long received_ = 0;
};
