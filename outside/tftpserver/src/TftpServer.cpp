#include "tftpserver/TftpServer.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "win32/file.h"
#include "win32/file_mapping.h"
#include "win32/mutex.h"
#include "win32/process.h"
#include "win32/sync.h"

namespace tftp {
namespace {

constexpr uint16_t kRrq = 1, kWrq = 2, kData = 3, kAck = 4, kError = 5;
constexpr size_t kBlockSize = 512;
constexpr DWORD kReceiveSliceMs = 100;  // how soon a transfer sees the stop
constexpr uint32_t kAborted = 995;      // the system's "operation aborted"
constexpr DWORD kLockWaitMs = 5000;     // a reader that holds the table longer loses this update
constexpr uint32_t kBusy = 170;         // the system's "the requested resource is in use"

using Clock = std::chrono::steady_clock;

// Whole milliseconds left until `deadline`, rounded up (a wait of 0 would not end); 0 once it has passed.
DWORD MillisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<DWORD>(left) : 0;
}

uint16_t LoadBe16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
void StoreBe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}

std::vector<uint8_t> ErrorPacket(uint16_t code, const char* message) {
  // Opcode, error code, the message and its terminating zero.
  const size_t length = strlen(message);
  std::vector<uint8_t> packet(4 + length + 1, 0);
  StoreBe16(packet.data(), kError);
  StoreBe16(packet.data() + 2, code);
  memcpy(packet.data() + 4, message, length);
  return packet;
}

void SendTo(SOCKET s, const std::vector<uint8_t>& packet, const sockaddr_in& to) {
  sendto(s, reinterpret_cast<const char*>(packet.data()), static_cast<int>(packet.size()), 0,
         reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

bool SameEndpoint(const sockaddr_in& a, const sockaddr_in& b) {
  return a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
}

bool ReadNumber(const char* name, uint32_t limit, uint32_t& out) {
  const char* text = getenv(name);
  if (!text || !*text) return true;
  char* end = nullptr;
  unsigned long value = strtoul(text, &end, 10);
  if (*end != '\0' || value > limit) return false;
  out = static_cast<uint32_t>(value);
  return true;
}

// Takes the table's lock; an owner that died leaves the lock to us (WAIT_ABANDONED), still owned. A lock
// held for longer than the wait is not waited for further: the transfer must go on.
class TableLock {
 public:
  explicit TableLock(HANDLE lock) : lock_(lock) {
    DWORD wait = WaitForSingleObject(lock_, kLockWaitMs);
    owned_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
  }
  ~TableLock() {
    if (owned_) ReleaseMutex(lock_);
  }
  bool owned() const { return owned_; }

 private:
  HANDLE lock_;
  bool owned_;
};

}  // namespace

std::optional<ServerOptions> OptionsFromCommandLine(const std::string& commandLine) {
  size_t at = commandLine.find(kRootPrefix);
  if (at == std::string::npos) return std::nullopt;
  ServerOptions options;
  options.root = commandLine.substr(at + strlen(kRootPrefix));
  while (!options.root.empty() && (options.root.back() == '\r' || options.root.back() == '\n')) options.root.pop_back();
  if (options.root.empty()) return std::nullopt;
  if (const char* address = getenv("TAVRIN_TFTP_ADDRESS"); address && *address) options.address = address;
  uint32_t port = options.port;
  if (!ReadNumber("TAVRIN_TFTP_PORT", 65535, port) || !ReadNumber("TAVRIN_TFTP_TIMEOUT_MS", 60000, options.timeoutMs) ||
      !ReadNumber("TAVRIN_TFTP_RETRIES", 1000, options.retries))
    return std::nullopt;
  options.port = static_cast<uint16_t>(port);
  return options;
}

std::optional<Request> ParseRequest(const uint8_t* packet, size_t size) {
  if (!packet || size < 4) return std::nullopt;
  Request request;
  request.opcode = LoadBe16(packet);
  if (request.opcode != kRrq && request.opcode != kWrq) return std::nullopt;
  const char* text = reinterpret_cast<const char*>(packet + 2);
  const size_t length = size - 2;
  const char* nameEnd = static_cast<const char*>(memchr(text, '\0', length));
  if (!nameEnd) return std::nullopt;
  const char* mode = nameEnd + 1;
  const size_t modeRoom = length - static_cast<size_t>(mode - text);
  const char* modeEnd = modeRoom ? static_cast<const char*>(memchr(mode, '\0', modeRoom)) : nullptr;
  if (!modeEnd) return std::nullopt;
  request.file.assign(text, nameEnd);
  request.mode.assign(mode, modeEnd);
  for (char& c : request.mode) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return request;  // options after the mode are ignored: the client falls back to the plain protocol
}

bool IsSafeFileName(const std::string& name) {
  return !name.empty() && name.find_first_of("/\\:") == std::string::npos && name.find("..") == std::string::npos;
}

struct Server::Transfer {
  sockaddr_in client{};
  Request request;
  int record = -1;
  std::thread thread;
  std::atomic<bool> done{false};
};

Server::Server() = default;
Server::~Server() { Stop(); }

bool Server::Start(const ServerOptions& options, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why + " (" + std::to_string(WSAGetLastError() ? WSAGetLastError() : GetLastError()) + ")";
    Stop();
    return false;
  };
  options_ = options;
  stopping_ = false;
  socket_ = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (socket_ == INVALID_SOCKET) return fail("socket");
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(options.port);
  local.sin_addr.s_addr = inet_addr(options.address.c_str());
  if (bind(socket_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
    return fail("cannot bind " + options.address + ":" + std::to_string(options.port));
  int length = sizeof local;
  getsockname(socket_, reinterpret_cast<sockaddr*>(&local), &length);
  port_ = ntohs(local.sin_port);

  lock_ = CreateMutex(nullptr, FALSE, kLockName);
  if (!lock_) return fail("CreateMutex");
  table_ = CreateFileMapping(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kTableSize, kTableName);
  if (!table_) return fail("CreateFileMapping");
  records_ = static_cast<SharedRecord*>(MapViewOfFile(table_, FILE_MAP_ALL_ACCESS, 0, 0, kTableSize));
  if (!records_) return fail("MapViewOfFile");
  {
    TableLock guard(lock_);
    memset(records_, 0, kTableSize);
  }
  listener_ = std::thread(&Server::Listen, this);
  return true;
}

void Server::Stop() {
  stopping_ = true;
  if (socket_ != INVALID_SOCKET) shutdown(socket_, SD_BOTH);  // wakes the listener
  if (listener_.joinable()) listener_.join();
  std::vector<std::unique_ptr<Transfer>> transfers;
  {
    std::lock_guard guard(transfersLock_);
    transfers.swap(transfers_);
  }
  for (auto& transfer : transfers)
    if (transfer->thread.joinable()) transfer->thread.join();
  if (socket_ != INVALID_SOCKET) closesocket(socket_);
  socket_ = INVALID_SOCKET;
  if (records_) UnmapViewOfFile(records_);
  records_ = nullptr;
  if (table_) CloseHandle(table_);
  table_ = nullptr;
  if (lock_) CloseHandle(lock_);
  lock_ = nullptr;
}

void Server::Listen() {
  uint8_t packet[kBlockSize + 4];
  while (!stopping_) {
    sockaddr_in from{};
    int fromLength = sizeof from;
    int got = recvfrom(socket_, reinterpret_cast<char*>(packet), sizeof packet, 0, reinterpret_cast<sockaddr*>(&from),
                       &fromLength);
    if (got < 0) {
      int error = WSAGetLastError();
      if (stopping_ || error == WSAESHUTDOWN || error == WSAENOTSOCK || error == WSAEBADF) break;
      continue;  // a datagram too long, an unreachable port reported: go on
    }
    auto request = ParseRequest(packet, static_cast<size_t>(got));
    if (!request) {
      SendTo(socket_, ErrorPacket(kErrorIllegalOperation, "Illegal TFTP operation"), from);
      continue;
    }
    if (request->opcode == kWrq) {
      SendTo(socket_, ErrorPacket(kErrorAccessViolation, "Only reading is allowed"), from);
      continue;
    }
    StartTransfer(from, std::move(*request));
  }
}

void Server::StartTransfer(const sockaddr_in& client, Request request) {
  std::lock_guard guard(transfersLock_);
  // Finished transfers are let go here, so the list stays as long as the transfers running.
  for (auto it = transfers_.begin(); it != transfers_.end();) {
    if ((*it)->done) {
      (*it)->thread.join();
      it = transfers_.erase(it);
    } else {
      ++it;
    }
  }
  if (transfers_.size() >= kMaxTransfers)
    return Refuse(socket_, client, ClaimRecord(client), kErrorNotDefined,
                  "Server busy: too many transfers, try again later", kResultSystemBase + kBusy);
  auto transfer = std::make_unique<Transfer>();
  transfer->client = client;
  transfer->request = std::move(request);
  transfer->record = ClaimRecord(client);
  try {
    transfer->thread = std::thread(&Server::Serve, this, transfer.get());
  } catch (const std::system_error&) {
    return Refuse(socket_, client, transfer->record, kErrorDiskFull,
                  "Allocation exceeded: the server is out of resources (no thread for the transfer)",
                  kResultSystemBase + ERROR_NOT_ENOUGH_MEMORY);
  }
  transfers_.push_back(std::move(transfer));
}

void Server::Refuse(SOCKET s, const sockaddr_in& client, int record, uint16_t code, const char* message,
                    uint32_t result) {
  UpdateRecord(record, 0, result);  // recorded before the client hears of it
  SendTo(s, ErrorPacket(code, message), client);
}

int Server::ClaimRecord(const sockaddr_in& client) {
  if (!records_) return -1;
  char ip[kIpSize] = {};
  snprintf(ip, sizeof ip, "%s", inet_ntoa(client.sin_addr));
  TableLock guard(lock_);
  if (!guard.owned()) return -1;
  int chosen = -1, free = -1, ended = -1;
  for (size_t i = 0; i < kRecordCount; ++i) {
    SharedRecord& record = records_[i];
    if (record.port != 0 && strncmp(record.ip, ip, kIpSize) == 0) {
      chosen = static_cast<int>(i);
      break;
    }
    if (record.port == 0 && free < 0) free = static_cast<int>(i);
    if (record.port != 0 && record.state == kStateEnded && ended < 0) ended = static_cast<int>(i);
  }
  if (chosen < 0) chosen = free >= 0 ? free : ended;
  if (chosen < 0) return -1;  // every record is a running transfer: this one goes unrecorded
  SharedRecord& record = records_[chosen];
  record.port = ntohs(client.sin_port);
  memcpy(record.ip, ip, kIpSize);
  record.result = 0;
  record.blocks = 0;
  record.state = kStateRunning;
  return chosen;
}

void Server::UpdateRecord(int index, uint32_t blocks, std::optional<uint32_t> result) {
  if (index < 0 || !records_) return;
  TableLock guard(lock_);
  if (!guard.owned()) return;
  SharedRecord& record = records_[index];
  record.blocks = blocks;
  if (result) {
    record.result = *result;
    record.state = kStateEnded;
  }
}

void Server::Serve(Transfer* transfer) {
  const sockaddr_in client = transfer->client;
  const Request& request = transfer->request;
  uint32_t blocks = 0;
  auto finish = [&](uint32_t result) {
    UpdateRecord(transfer->record, blocks, result);
    transfer->done = true;
  };

  SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = inet_addr(options_.address.c_str());
  if (s == INVALID_SOCKET || bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    // Without a port of its own the transfer is refused from the well-known one.
    const auto error = static_cast<uint32_t>(WSAGetLastError());
    if (s != INVALID_SOCKET) closesocket(s);
    const bool exhausted = error == WSAEMFILE || error == WSAENOBUFS;
    Refuse(socket_, client, transfer->record, exhausted ? kErrorDiskFull : kErrorNotDefined,
           exhausted ? "Allocation exceeded: the server is out of resources (no socket for the transfer)"
                     : "The server cannot open a port for the transfer",
           kResultSystemBase + error);
    transfer->done = true;
    return;
  }
  auto refuse = [&](uint16_t code, const char* message, uint32_t result) {
    Refuse(s, client, transfer->record, code, message, result);
    closesocket(s);
    transfer->done = true;
  };
  if (request.mode != "octet") return refuse(kErrorNotDefined, "Only octet mode is served", kErrorNotDefined);
  if (!IsSafeFileName(request.file)) return refuse(kErrorAccessViolation, "Access violation", kErrorAccessViolation);
  const std::string path = options_.root + "\\" + request.file;
  HANDLE file = CreateFile(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    // Each failure by its cause: only a refusal of the file itself is an access violation.
    const DWORD error = GetLastError();
    switch (error) {
      case ERROR_FILE_NOT_FOUND:
      case ERROR_PATH_NOT_FOUND:
      case ERROR_INVALID_NAME:
        return refuse(kErrorFileNotFound, "File not found", kErrorFileNotFound);
      case ERROR_ACCESS_DENIED:
      case ERROR_SHARING_VIOLATION:
      case ERROR_LOCK_VIOLATION:
        return refuse(kErrorAccessViolation, "Access violation", kErrorAccessViolation);
      case ERROR_TOO_MANY_OPEN_FILES:
        return refuse(kErrorDiskFull, "Allocation exceeded: the server is out of resources (too many open files)",
                      kResultSystemBase + error);
      case ERROR_NOT_ENOUGH_MEMORY:
        return refuse(kErrorDiskFull, "Allocation exceeded: the server is out of resources (out of memory)",
                      kResultSystemBase + error);
      default: {
        char message[64];
        snprintf(message, sizeof message, "The server cannot open the file (error %u)", static_cast<unsigned>(error));
        return refuse(kErrorNotDefined, message, kResultSystemBase + error);
      }
    }
  }

  uint8_t data[4 + kBlockSize];
  uint8_t reply[4 + kBlockSize];
  uint16_t block = 1;
  std::optional<uint32_t> result;
  while (!result) {
    DWORD size = 0;
    if (!ReadFile(file, data + 4, kBlockSize, &size, nullptr)) {
      uint32_t error = GetLastError();
      SendTo(s, ErrorPacket(kErrorNotDefined, "Read error"), client);
      result = kResultSystemBase + error;
      break;
    }
    StoreBe16(data, kData);
    StoreBe16(data + 2, block);
    uint32_t sends = 0;
    bool acknowledged = false;
    while (!acknowledged && !result) {
      if (sends > options_.retries) {
        result = kResultSystemBase + WSAETIMEDOUT;
        break;
      }
      sendto(s, reinterpret_cast<const char*>(data), static_cast<int>(4 + size), 0,
             reinterpret_cast<const sockaddr*>(&client), sizeof client);
      ++sends;
      // Waits for this block's acknowledgement until its time is up by the clock, whatever arrives
      // meanwhile (old acknowledgements, strangers' packets), in slices so that a stop is seen soon.
      const auto deadline = Clock::now() + std::chrono::milliseconds(options_.timeoutMs);
      while (!acknowledged && !result) {
        if (stopping_) {
          result = kResultSystemBase + kAborted;
          break;
        }
        const DWORD left = MillisecondsUntil(deadline);
        if (left == 0) break;  // sent again
        DWORD slice = left < kReceiveSliceMs ? left : kReceiveSliceMs;
        setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&slice), sizeof slice);
        sockaddr_in from{};
        int fromLength = sizeof from;
        int got = recvfrom(s, reinterpret_cast<char*>(reply), sizeof reply, 0, reinterpret_cast<sockaddr*>(&from),
                           &fromLength);
        if (got < 0) continue;
        if (!SameEndpoint(from, client)) {
          SendTo(s, ErrorPacket(kErrorUnknownTransferId, "Unknown transfer ID"), from);
          continue;
        }
        if (got < 4) continue;
        const uint16_t opcode = LoadBe16(reply);
        if (opcode == kError) {
          result = LoadBe16(reply + 2);
        } else if (opcode == kAck) {
          // An older block's acknowledgement again is not answered: that would double every send.
          acknowledged = LoadBe16(reply + 2) == block;
        } else {
          SendTo(s, ErrorPacket(kErrorIllegalOperation, "Illegal TFTP operation"), client);
          result = kErrorIllegalOperation;
        }
      }
    }
    if (result) break;
    UpdateRecord(transfer->record, ++blocks, std::nullopt);
    if (size < kBlockSize) result = kResultSuccess;
    ++block;  // wraps after 65535 as most clients expect
  }
  CloseHandle(file);
  closesocket(s);
  finish(*result);
}

}  // namespace tftp
