// PelkoFramework's plain functions of the server command protocol and the "<DREQ=" request.
#pragma once
#include <cstddef>
#include <cstdint>

// One computer holding a server's USB port, from the server's connection table.
struct clientRecord {
  char address[20];
  int32_t port;
};

#pragma pack(push, 1)
// The request to another computer (TCP port 6133) to give a device free.
struct DEVICE_REQUEST {
  char tag[6];         // "<DREQ="
  char peer[25];       // address text of the computer asked
  char server[25];     // address text of the server
  uint8_t port[4];     // u32 USB port number, little-endian
  uint8_t first[2];    // u16 caller values, little-endian
  uint8_t second[2];
  char hostName[260];  // the sender's host name
  char endTag[7];      // "</DREQ>"
};
#pragma pack(pop)
static_assert(sizeof(DEVICE_REQUEST) == 331);
static_assert(offsetof(DEVICE_REQUEST, port) == 56 && offsetof(DEVICE_REQUEST, hostName) == 64);

inline constexpr uint16_t kDeviceRequestPort = 6133;

// The buffer of the command 6 exchange of SendRemoteClientRequest.
extern char cmd_str[512];

// Command 7: the product string of the device on that USB port, into buffer (at least 256 bytes; at
// most 255 characters and a terminator are written). 0 done, 4 no device there, -1 failure.
int GetDeviceString(const char* address, int port, char* buffer);
// The connection table text: 1 and the record filled when a pair holds the port, else 0.
int get_cTable(const char* table, int port, clientRecord* record);
// The reply of command 6: 1 when it is a success with data and its table holds the port.
int getClientIpaddress(int port, const char* reply, clientRecord* record);
// Finds which computer holds the server's port (command 6) and asks it to give the device free. 0 done
// (also when no computer holds it), -1 failure.
int SendRemoteClientRequest(const char* server, int port, uint16_t first, uint16_t second);
// Sends the 331-byte DEVICE_REQUEST to the peer's port 6133 and reads one reply. 0 sent, -1 failure.
int SendDeviceRequest(const char* peer, const char* server, uint32_t port, uint16_t first, uint16_t second);
// Prints "ERROR: <text>" on standard output and ends the process with status 1.
[[noreturn]] void err_msg(const char* text);
