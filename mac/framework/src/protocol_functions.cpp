#include "PelkoFramework/protocol_functions.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "cocoa/bsd.h"
#include "zarnet/ports.h"
#include "zarnet/wire.h"

char cmd_str[512];

namespace {

std::mutex g_cmdMutex;  // cmd_str is shared by every caller of SendRemoteClientRequest

constexpr int kConnectTimeoutSeconds = 5;
constexpr size_t kReplySize = 500;

// A blocking TCP connection to the address and port, made within 5 seconds; -1 on failure (reported on
// standard error).
int Connect(const char* address, uint16_t port) {
  int fd = bsd::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) {
    fprintf(stderr, "Error creating socket (%d %s)\n", errno, strerror(errno));
    return -1;
  }
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(port);
  target.sin_addr.s_addr = bsd::inet_addr(address ? address : "");
  auto fail = [fd] {
    bsd::close(fd);
    return -1;
  };
  if (!bsd::SetBlocking(fd, false)) return fail();
  if (bsd::connect(fd, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
    if (errno != EINPROGRESS) {
      fprintf(stderr, "Error connecting %d - %s\n", errno, strerror(errno));
      return fail();
    }
    fprintf(stderr, "EINPROGRESS in connect() - selecting\n");
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(fd, &writable);
    timeval timeout{kConnectTimeoutSeconds, 0};
    int ready = bsd::select(fd + 1, nullptr, &writable, nullptr, &timeout);
    if (ready < 0 && errno != EINTR) {
      fprintf(stderr, "Error connecting %d - %s\n", errno, strerror(errno));
      return fail();
    }
    if (ready <= 0) {
      fprintf(stderr, "Timeout in select() - Cancelling!\n");
      return fail();
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (bsd::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) < 0) {
      fprintf(stderr, "Error in getsockopt() %d - %s\n", errno, strerror(errno));
      return fail();
    }
    if (error) {
      fprintf(stderr, "Error in delayed connection() %d - %s\n", error, strerror(error));
      return fail();
    }
  }
  if (!bsd::SetBlocking(fd, true)) return fail();
  return fd;
}

bool SendText(int fd, const std::string& text) {
  return bsd::send(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size());
}

// Copies a text into a fixed field: at most size - 1 bytes, the rest zero.
void PutText(char* field, size_t size, const char* text) {
  memset(field, 0, size);
  if (text) strncpy(field, text, size - 1);
}

}  // namespace

int GetDeviceString(const char* address, int port, char* buffer) {
  int fd = Connect(address, zarnet::kCommandPort);
  if (fd < 0) return -1;
  char request[128];
  snprintf(request, sizeof request, "<CMD=7>\n<SCMD=3>\n</SCMD>\n<DATA>\n%d\n</DATA>\n</CMD>", port);
  char reply[kReplySize + 1] = {};
  ssize_t received = -1;
  if (SendText(fd, request)) received = bsd::recv(fd, reply, kReplySize, 0);
  if (received < 0) {
    printf("No socket connection\n");
    bsd::close(fd);
    return -1;
  }
  int result = -1;
  if (reply[6] != '>') {
    result = 0;
  } else if (reply[33] == '0') {
    // iproduct_string at byte 53: u32 length, then the text. Only what arrived, what the length names
    // and what the caller's 256 bytes hold is copied.
    if (received >= 57) {
      uint32_t length = zarnet::wire::LoadLe32(reinterpret_cast<const uint8_t*>(reply) + 53);
      size_t available = static_cast<size_t>(received) - 57;
      size_t n = length < available ? length : available;
      if (n > 255) n = 255;
      if (length > 0) {
        const char* text = reply + 57;
        const char* end = static_cast<const char*>(memchr(text, '\n', n));
        size_t copy = end ? static_cast<size_t>(end - text) : n;
        if (buffer) {
          memcpy(buffer, text, copy);
          buffer[copy] = 0;
        }
        result = 0;
      }
    }
  } else if (reply[33] == '4') {
    result = 4;
  }
  bsd::close(fd);
  return result;
}

int get_cTable(const char* table, int port, clientRecord* record) {
  printf("get_cTable\n");
  if (!table) return 0;
  clientRecord scratch{};
  clientRecord* out = record ? record : &scratch;
  const char* p = strchr(table, ']');
  if (!p) return 0;
  ++p;
  for (;;) {
    // A pair: the port line's value, then the address line's.
    const char* values[2];
    for (auto& value : values) {
      while (*p && *p != '=' && *p != '[') ++p;
      if (*p != '=') return 0;
      value = ++p;
      while (*p && *p != '\n' && *p != '\r') ++p;
    }
    out->port = static_cast<int32_t>(strtol(values[0], nullptr, 10));
    size_t length = strcspn(values[1], "\r\n");
    if (length >= sizeof out->address) length = sizeof out->address - 1;
    memcpy(out->address, values[1], length);
    out->address[length] = 0;
    if (out->port == port) return 1;
  }
}

int getClientIpaddress(int port, const char* reply, clientRecord* record) {
  printf("getClientIpaddress\n");
  if (!reply || strnlen(reply, 36) < 36) return 0;
  if (reply[16] != '0' || reply[17] != '>' || reply[34] != '>') return 0;
  char data[sizeof cmd_str];
  size_t length = strcspn(reply + 35, "<");
  if (length >= sizeof data) length = sizeof data - 1;
  memcpy(data, reply + 35, length);
  data[length] = 0;
  return get_cTable(data, port, record) == 1 && record ? 1 : 0;
}

int SendRemoteClientRequest(const char* server, int port, uint16_t first, uint16_t second) {
  printf("%s- [%d] \n", server ? server : "", port);
  std::lock_guard lock(g_cmdMutex);
  int fd = Connect(server, zarnet::kCommandPort);
  if (fd < 0) return -1;
  snprintf(cmd_str, sizeof cmd_str, "<CMD=6>\n</CMD>");
  if (!SendText(fd, cmd_str)) {
    printf("No socket connection\n");
    bsd::close(fd);
    return -1;
  }
  memset(cmd_str, 0, sizeof cmd_str);
  if (bsd::recv(fd, cmd_str, kReplySize, 0) < 0) {
    printf("No socket connection\n");
    bsd::close(fd);
    return -1;
  }
  clientRecord client{};
  if (getClientIpaddress(port, cmd_str, &client) == 1) {
    printf("getClientIpaddress =%d (%s)\n", port, client.address);
    SendDeviceRequest(client.address, server, static_cast<uint32_t>(port), first, second);
  }
  bsd::close(fd);
  return 0;
}

int SendDeviceRequest(const char* peer, const char* server, uint32_t port, uint16_t first, uint16_t second) {
  DEVICE_REQUEST request;
  memset(&request, 0, sizeof request);
  memcpy(request.tag, "<DREQ=", 6);
  PutText(request.peer, sizeof request.peer, peer);
  PutText(request.server, sizeof request.server, server);
  zarnet::wire::StoreLe32(request.port, port);
  zarnet::wire::StoreLe16(request.first, first);
  zarnet::wire::StoreLe16(request.second, second);
  if (bsd::gethostname(request.hostName, sizeof request.hostName) != 0) request.hostName[0] = 0;
  request.hostName[sizeof request.hostName - 1] = 0;
  memcpy(request.endTag, "</DREQ>", 7);

  int fd = Connect(peer, kDeviceRequestPort);
  if (fd < 0) return -1;
  if (bsd::send(fd, &request, sizeof request, 0) != static_cast<ssize_t>(sizeof request)) {
    printf("No socket connection\n");
    bsd::close(fd);
    return -1;
  }
  char reply[100];
  if (bsd::recv(fd, reply, sizeof reply, 0) == 0) printf("Socket connection  Closed %d(%s)\n", errno, strerror(errno));
  bsd::close(fd);
  return 0;
}

void err_msg(const char* text) {
  printf("ERROR: %s\n", text ? text : "");
  // A fatal error must not look like success to whoever started the process.
  exit(1);
}
