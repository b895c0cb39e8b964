// The server command client: one request per connection, the reply read at its fixed positions.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "TavrinMac/serverManager.h"
#include "TavrinMac/sockets.h"
#include "cocoa/bsd.h"

std::atomic<char> globalStatus{0};
NSString* serverConfigDataGlobal = nullptr;
serverdata* serverDataGlobal = nullptr;
char cTableGlobal[2048] = {};
std::atomic<char> lastStatusGlobal{0};

namespace {

constexpr size_t kRequestSize = 700;
constexpr size_t kReplyLimit = 500;
constexpr size_t kProductOffset = 53;

// The reply buffer: room past the read limit, zeroed, so every fixed position can be read.
struct Reply {
  char bytes[kReplyLimit + 320] = {};
  size_t length = 0;
};

void Alert(const std::string& title, const std::string& message, const char* button = "Ok") {
  tavrinmac::Ui().Alert({title, message, {button}});
}

bool HasEndTag(const Reply& r) {
  return memmem(r.bytes, r.length, zarnet::kTagRspEnd.data(), zarnet::kTagRspEnd.size()) != nullptr;
}

// The DATA text from byte 35 up to the next '<' (within what arrived).
std::string DataText(const char* reply, long length) {
  std::string text;
  for (long i = 35; i < length && reply[i] != '<'; ++i) text += reply[i];
  return text;
}

thread_local iproduct_string t_product{};

}  // namespace

std::recursive_mutex& serverManager::exchangeLock() {
  static std::recursive_mutex mutex;
  return mutex;
}

iproduct_string* serverManager::set_command(int command, const char* data, int socket, const char* address) {
  const char* text = data ? data : "";
  const char* form = "<CMD=%d>\n</CMD>";
  if (command == 3 || command == 5) form = "<CMD=%d>\n<DATA>\n%s\n</DATA>\n</CMD>";
  else if (command == 7) form = "<CMD=%d>\n<SCMD=3>\n</SCMD>\n<DATA>\n%s\n</DATA>\n</CMD>";
  else if (command == 8) form = "<CMD=%d>\n%s\n</CMD>";
  char request[kRequestSize];
  int length = snprintf(request, sizeof request, form, command, text);
  if (length < 0 || static_cast<size_t>(length) >= sizeof request) {
    printf("Request too long for command %d\n", command);  // no caller makes one: refused whole
    bsd::close(socket);
    return nullptr;
  }
  if (command == 8) printf("%s", request);
  for (int sent = 0; sent < length;) {
    ssize_t n = bsd::write(socket, request + sent, static_cast<size_t>(length - sent));
    if (n <= 0) {
      int error = errno;
      printf("No socket connection - %d (%s)\n", error, strerror(error));
      Alert("ERROR:", cocoa::Format("Client: No socket connection - %d (%s)", error, strerror(error)));
      bsd::close(socket);
      return nullptr;
    }
    sent += static_cast<int>(n);
  }
  // A reply may come in several segments: read to its end tag, the connection's close or the limit.
  Reply reply;
  while (reply.length < kReplyLimit && !HasEndTag(reply)) {
    ssize_t n = bsd::read(socket, reply.bytes + reply.length, kReplyLimit - reply.length);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      int error = errno;
      printf("Read: Failed - %d (%s)\n", error, strerror(error));
      bsd::close(socket);
      return nullptr;
    }
    reply.length += static_cast<size_t>(n);
  }
  bsd::close(socket);
  if (command == 7) return reply.bytes[5] == '7' ? read_response(reply.bytes, static_cast<long>(reply.length), address) : nullptr;
  read_response(reply.bytes, static_cast<long>(reply.length), address);
  return nullptr;
}

iproduct_string* serverManager::read_response(const char* reply, long length, const char* address) {
  // Positions past what arrived read as zero bytes.
  auto at = [&](long i) -> char { return i < length ? reply[i] : 0; };
  const char kind = at(5);
  const std::string server = address ? address : "";
  if (kind != '7' && !memmem(reply, static_cast<size_t>(length), "</RSP>", 6)) return nullptr;
  if (at(6) != '>') return nullptr;
  const char status = at(16);
  const bool framed = at(17) == '>';
  lastStatusGlobal = kind == '7' ? at(33) : (framed ? status : 0);
  switch (kind) {
    case '1':
      if (status == '0' && framed) printf("status returned is Success");
      break;
    case '2':
      if ((status == '0' || status == '1') && framed)
        tavrinmac::ServerLog("Reset Server : %s Done\n", server.c_str());
      break;
    case '3':
      globalStatus = (status == '0' || status == '1') && framed ? 1 : 0;
      break;
    case '4':
      if (status == '0' && framed) {
        globalStatus = 1;
        if (at(34) == '>') {
          std::string text = DataText(reply, length);
          set_data_toFile(text.c_str(), 3333);
          Assign<NSString>(serverConfigDataGlobal, NSString::stringWithStd(text));
          free(serverDataGlobal);
          serverDataGlobal = add_to_struct(text.c_str(), '4');
        }
      } else {
        globalStatus = 0;
      }
      break;
    case '5':
      // '1' is success too: the server then wants a reset, which follows below.
      if ((status == '0' || status == '1') && framed) {
        globalStatus = 1;
      } else {
        globalStatus = 0;
        Alert("password", "wrong pwd", "ok");
      }
      break;
    case '6':
      if (status == '0' && framed) {
        globalStatus = 1;
        if (at(34) == '>') {
          std::string text = DataText(reply, length);
          set_data_toFile(text.c_str(), 3333);
          CopyField(cTableGlobal, text.c_str(), text.size());
        } else {
          cTableGlobal[0] = 0;
        }
      } else {
        globalStatus = 0;
      }
      break;
    case '7': {
      if (at(33) != '0') return nullptr;
      memset(&t_product, 0, sizeof t_product);
      for (long i = 0; i < static_cast<long>(sizeof t_product); ++i)
        reinterpret_cast<char*>(&t_product)[i] = at(static_cast<long>(kProductOffset) + i);
      uint32_t n = t_product.length;
      if (n == 0) return nullptr;
      size_t limit = n < zarnet::kMaxProductString ? n : zarnet::kMaxProductString - 1;
      size_t end = 0;
      while (end < limit && t_product.text[end] != '\n' && t_product.text[end] != 0) ++end;
      t_product.text[end] = 0;
      return &t_product;
    }
    default:
      break;
  }
  switch (status) {
    case '2':
      Alert("Server Response", "Invalid Command");
      break;
    case '1':
      if (kind != '2') {
        if (int s = createTCPSocket(server.c_str())) set_command(2, nullptr, s, server.c_str());
      }
      break;
    case '3':
      if (kind == '3') Alert("Server Response", cocoa::Format("Invalid Password - %c(%s)(%c)", '3', server.c_str(), '3'));
      break;
    case '4':
      if (kind == '4' || kind == '6' || kind == '7')
        Alert("Server Response", cocoa::Format("Device Not Found - %c(%s)", '4', server.c_str()));
      break;
    default:
      break;
  }
  return nullptr;
}
