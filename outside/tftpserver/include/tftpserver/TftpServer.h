// The TFTP server of TftpServer.exe: RFC 1350 read requests in octet mode, 512-byte blocks, resent after
// a time-out a limited number of times, one thread per transfer; each transfer's progress and result go
// to the shared table under its lock. Write requests and names that could leave the root are refused.
// At most kMaxTransfers run at once: a request beyond them, or one the system has no resources for, is
// answered with a TFTP error that says so, and the server goes on.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tftp/SharedInfo.h"
#include "win32/types.h"
#include "win32/winsock.h"

namespace tftp {

// As many transfers as the shared table has records.
inline constexpr size_t kMaxTransfers = kRecordCount;

struct ServerOptions {
  std::string root;                 // Windows-form folder whose files are served
  std::string address = "0.0.0.0";  // where the well-known socket binds
  uint16_t port = 69;
  uint32_t timeoutMs = 1000;        // before a block is sent again
  uint32_t retries = 5;             // sends again before the transfer is given up
};

// The options of the program: the root from its command line (everything after "TFTP_ROOT="), the rest
// from the environment (TAVRIN_TFTP_ADDRESS, TAVRIN_TFTP_PORT, TAVRIN_TFTP_TIMEOUT_MS,
// TAVRIN_TFTP_RETRIES), which tests use. Nothing when the line has no root.
std::optional<ServerOptions> OptionsFromCommandLine(const std::string& commandLine);

// A read or write request, parsed with every length checked.
struct Request {
  uint16_t opcode = 0;  // 1 read, 2 write
  std::string file;
  std::string mode;  // lower case
};
std::optional<Request> ParseRequest(const uint8_t* packet, size_t size);
// Whether a requested name stays inside the root: no "/", "\", ".." nor drive, not empty.
bool IsSafeFileName(const std::string& name);

class Server {
 public:
  Server();
  ~Server();  // stops
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds the well-known socket, then creates the lock and the table (zeroed). False with a reason.
  bool Start(const ServerOptions& options, std::string* error);
  // Ends the listener and every transfer (each within a tenth of a second) and joins them.
  void Stop();
  uint16_t port() const { return port_; }

 private:
  struct Transfer;
  void Listen();
  // Starts a thread for the request, or refuses it when kMaxTransfers run or no thread can be had.
  void StartTransfer(const sockaddr_in& client, Request request);
  void Serve(Transfer* transfer);
  // Records `result` for the client's transfer and tells the client the TFTP error, from `s`.
  void Refuse(SOCKET s, const sockaddr_in& client, int record, uint16_t code, const char* message, uint32_t result);
  // Record operations, under the lock.
  int ClaimRecord(const sockaddr_in& client);
  void UpdateRecord(int index, uint32_t blocks, std::optional<uint32_t> result);

  ServerOptions options_;
  SOCKET socket_ = INVALID_SOCKET;
  uint16_t port_ = 0;
  HANDLE lock_ = nullptr;
  HANDLE table_ = nullptr;
  SharedRecord* records_ = nullptr;
  std::atomic<bool> stopping_{false};
  std::thread listener_;
  std::mutex transfersLock_;
  std::vector<std::unique_ptr<Transfer>> transfers_;
};

}  // namespace tftp
