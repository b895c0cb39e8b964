// Local stream sockets between the processes of the machine: a connection, connecting to a socket file,
// and a server that accepts on a thread of its own and hands each connection to a handler on a thread of
// its own (bounded).
#pragma once
#include <sys/uio.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <list>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace tavrin::base::local {

// Where a socket lives: a file (in the sysroot's run/).
struct Address {
  static Address File(std::filesystem::path path) { return {std::move(path).string()}; }
  std::string name;
};

class Connection {
 public:
  Connection() = default;
  explicit Connection(int fd) : fd_(fd) {}
  ~Connection();
  Connection(Connection&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Connection& operator=(Connection&& other) noexcept;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  bool valid() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  // Gives the descriptor to the caller, who closes it.
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

  // Whole buffers; false on a closed connection or an error (never raises SIGPIPE).
  bool SendAll(const void* data, size_t size);
  bool ReceiveAll(void* data, size_t size);
  // A receive that waits longer fails (zero: no limit).
  bool SetReceiveTimeout(std::chrono::milliseconds timeout);
  // Ends both directions: a receive blocked in another thread returns, the peer sees the end.
  void Shutdown();

 private:
  int fd_ = -1;
};

// Whole buffers on a connected socket the caller holds by its descriptor; false on a closed connection
// or an error (never raises SIGPIPE).
bool SendAll(int fd, const void* data, size_t size);
bool ReceiveAll(int fd, void* data, size_t size);
// The same for pieces sent one after the other in one call (the array is changed as they go). A
// `descriptor` other than -1 goes along with the first byte, for the peer to receive as its own.
bool SendAllParts(int fd, iovec* parts, int count, int descriptor = -1);
// ReceiveAll that also takes a descriptor sent along with the bytes: into *descriptor (-1 when none came;
// the caller closes it). Descriptors beyond the first are closed.
bool ReceiveAllWithDescriptor(int fd, void* data, size_t size, int* descriptor);

// Connects; an invalid connection (errno set) when nobody listens there.
Connection Connect(const Address& address);
// True when a server accepts at the address.
bool Listening(const Address& address);

// Tells when the peers of sockets have gone (closed their end, or ended) while the threads serving those
// sockets may be busy elsewhere: one thread watches every socket added.
class HangupWatch {
 public:
  HangupWatch();
  ~HangupWatch();
  HangupWatch(const HangupWatch&) = delete;
  HangupWatch& operator=(const HangupWatch&) = delete;

  // `gone` runs on the watch's thread once the peer of `fd` has closed or ended (also when it already
  // has), never after Remove(id) returned. 0 when the socket cannot be watched.
  uint64_t Add(int fd, std::function<void()> gone);
  void Remove(uint64_t id);

 private:
  void Run();

  struct Watched {
    int fd;
    std::function<void()> gone;
  };
  const int epoll_;
  const int wake_;
  std::mutex lock_;
  std::map<uint64_t, Watched> watched_;
  uint64_t nextId_ = 0;
  std::thread thread_;
};

class Server {
 public:
  struct Options {
    // Connections served at once; beyond it a new one is closed at once.
    size_t maxConnections = SIZE_MAX;
    // Names the server in what it reports on standard error (refused connections).
    std::string name = "server";
  };
  // Runs on the connection's thread; the connection is shut down when it returns and closed when the
  // last reference to it is dropped.
  using Handler = std::function<void(const std::shared_ptr<Connection>& connection)>;

  Server() = default;
  ~Server();  // stops it
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Listens at the address (a socket file left by a server that ended is taken over; a live server there
  // makes it fail with EADDRINUSE). False with errno set, and `error` saying what failed.
  bool Start(const Address& address, Handler handler, Options options, std::string* error = nullptr);
  // Stops accepting, shuts every connection down, joins every thread and removes the socket file.
  void Stop();
  bool running() const { return listener_ >= 0; }

 private:
  struct Served {
    std::shared_ptr<Connection> connection;
    std::thread thread;
    std::atomic<bool> done{false};
  };
  void AcceptLoop();
  // Joins the connections whose handlers have returned.
  void ReapFinished();

  Handler handler_;
  Options options_;
  std::string socketFile_;  // removed at the stop
  int listener_ = -1;
  std::thread acceptThread_;
  mutable std::mutex lock_;
  bool stopping_ = false;
  bool refusing_ = false;  // said once while at the limit
  std::list<std::unique_ptr<Served>> served_;
};

}  // namespace tavrin::base::local
