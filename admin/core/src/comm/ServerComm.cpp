// CServerComm's life and the seven operations of the command protocol.
#include "admin/comm/ServerComm.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>

#include "admin/Trace.h"
#include "admin/comm/ConfFile.h"
#include "win32/file.h"
#include "zarnet/command.h"

namespace {

std::mutex g_defaultsLock;
ServerCommSettings g_defaults;  // guarded by g_defaultsLock

// Size of the first read of the configuration file, which only learns the file's length.
constexpr DWORD kConfProbeSize = 100;

}  // namespace

// Runs the owner's commands one after the other on a thread that waits for the next one, so a command
// costs a wake rather than a thread start; a caller that waits is woken by its command's end.
class CServerComm::CommandThread {
 public:
  explicit CommandThread(CServerComm* owner) : owner_(owner) {}
  // A command handed over is run before the thread ends.
  ~CommandThread() {
    if (thread_ == nullptr) return;
    {
      std::lock_guard guard(lock_);
      stopping_ = true;
    }
    wake_.notify_one();
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
  }
  bool Start() {
    thread_ = CreateThread(nullptr, 0, &CommandThread::Main, this, 0, nullptr);
    if (thread_ == nullptr)
      TraceError("ExecuteCmd() => CreateThread - Error : %d \n", static_cast<int>(GetLastError()));
    return thread_ != nullptr;
  }
  // Runs the command of the owner's context; returns at once.
  void Post() { HandOver(nullptr); }
  // Runs the command of the owner's context and gives its result. A command on the LAN takes a fraction of
  // a millisecond, about what a sleeping caller's wake-up adds to it: the caller looks for the end that long
  // before it sleeps.
  DWORD Run() {
    Waiter waiter;
    HandOver(&waiter);
    const auto until = std::chrono::steady_clock::now() + kLookBeforeSleeping;
    for (int looks = 1; !waiter.done.load(std::memory_order_acquire); ++looks) {
      if (looks % 64 == 0 && std::chrono::steady_clock::now() >= until) {
        std::unique_lock lock(lock_);
        finished_.wait(lock, [&] { return waiter.done.load(std::memory_order_acquire); });
        break;
      }
    }
    return waiter.result;
  }

 private:
  struct Waiter {
    std::atomic<bool> done{false};
    DWORD result = CMD_RESULT_NOT_DONE;
  };
  static constexpr std::chrono::milliseconds kLookBeforeSleeping{1};

  void HandOver(Waiter* waiter) {
    {
      std::lock_guard guard(lock_);
      pending_ = true;
      waiter_ = waiter;
    }
    wake_.notify_one();
  }

  static DWORD WINAPI Main(LPVOID parameter) {
    auto* self = static_cast<CommandThread*>(parameter);
    std::unique_lock lock(self->lock_);
    for (;;) {
      self->wake_.wait(lock, [self] { return self->pending_ || self->stopping_; });
      if (!self->pending_) return 0;
      self->pending_ = false;
      Waiter* waiter = self->waiter_;
      lock.unlock();
      const DWORD result = ExecuteCmdTh(&self->owner_->m_CommandContext);
      lock.lock();
      if (waiter == nullptr) continue;
      waiter->result = result;
      waiter->done.store(true, std::memory_order_release);  // the waiter may be gone right after
      // Woken with the lock released: it has nothing to wait for once awake.
      lock.unlock();
      self->finished_.notify_all();
      lock.lock();
    }
  }

  CServerComm* const owner_;
  HANDLE thread_ = nullptr;
  std::mutex lock_;  // guards the three below
  std::condition_variable wake_;
  std::condition_variable finished_;
  bool pending_ = false;
  bool stopping_ = false;
  Waiter* waiter_ = nullptr;
};

std::vector<std::string> DiscoveryAddresses(const std::string& list) {
  std::vector<std::string> addresses;
  for (size_t begin = 0;;) {
    const size_t end = list.find(',', begin);
    addresses.push_back(list.substr(begin, end == std::string::npos ? std::string::npos : end - begin));
    if (end == std::string::npos) return addresses;
    begin = end + 1;
  }
}

ServerCommSettings GetDefaultServerCommSettings() {
  std::lock_guard<std::mutex> lock(g_defaultsLock);
  return g_defaults;
}

void SetDefaultServerCommSettings(const ServerCommSettings& settings) {
  std::lock_guard<std::mutex> lock(g_defaultsLock);
  g_defaults = settings;
}

CServerComm::CServerComm() : m_Settings(GetDefaultServerCommSettings()) {
  memset(&m_TavrinConfInfo, 0, sizeof(m_TavrinConfInfo));
  memset(&m_ConnectedClientsInfo, 0, sizeof(m_ConnectedClientsInfo));
  memset(&m_CommandContext, 0, sizeof(m_CommandContext));
  m_hEnumThread = nullptr;
  m_pDiscoveryContext = nullptr;
  char windowsDir[MAX_PATH] = "";
  GetWindowsDirectory(windowsDir, sizeof(windowsDir));
  SetConfFilePath((std::string(windowsDir) + "\\" + kConfFileName).c_str());
}

CServerComm::~CServerComm() {
  m_CommandThread.reset();  // after the command it may still run
  BroadcastClose();
  FreeConnectedClients();
}

BOOL CServerComm::SetSettings(const ServerCommSettings& settings) {
  if (m_CommandBusy.load(std::memory_order_acquire)) {
    TraceError("SetSettings() :: a command is running\n");
    return FALSE;
  }
  m_Settings = settings;
  return TRUE;
}

BOOL CServerComm::BuildRequest(char** request, DWORD* length, DWORD command, const BYTE* data, DWORD dataLength,
                               DWORD subCommand) {
  *request = nullptr;
  *length = 0;
  std::string payload;
  if (command == CMD_SET_CONFIG_INFO) {
    // The whole configuration file is the DATA; learn its size first, then read it.
    ConfFileLock lock(m_szConfFilePath);
    char probe[kConfProbeSize];
    DWORD size = sizeof(probe);
    if (ReadConfFile(probe, &size) == 0) {
      payload.assign(probe, size);
    } else {
      payload.resize(size);
      DWORD capacity = size;
      if (ReadConfFile(payload.data(), &capacity) != 0) {
        TraceError("BuildRequest() :: %s changed while it was read\n", m_szConfFilePath);
        return FALSE;
      }
    }
  } else if (data != nullptr) {
    payload.assign(reinterpret_cast<const char*>(data), dataLength);
  }
  std::string text = zarnet::EncodeCommandRequest(command, payload, subCommand);
  char* buffer = static_cast<char*>(malloc(text.size() > 0 ? text.size() : 1));
  if (buffer == nullptr) {
    TraceError("BuildRequest() :: out of memory\n");
    return FALSE;
  }
  memcpy(buffer, text.data(), text.size());
  *request = buffer;
  *length = static_cast<DWORD>(text.size());
  return TRUE;
}

BOOL CServerComm::BeginCommand(LPCSTR operation) {
  bool idle = false;
  if (!m_CommandBusy.compare_exchange_strong(idle, true, std::memory_order_acq_rel)) {
    TraceError("%s() :: another command is still running on this object\n", operation);
    return FALSE;
  }
  return TRUE;
}

DWORD CServerComm::RunCommand(LPCSTR operation, LPCSTR serverIp, DWORD command, const BYTE* data,
                              DWORD dataLength, DWORD* cancel, HWND window, DWORD message, bool wait) {
  if (!BeginCommand(operation)) return CMD_RESULT_THREAD_NOT_STARTED;
  char* request = nullptr;
  DWORD requestLength = 0;
  std::optional<ConfFileLock> fileLock;
  if (command == CMD_SET_CONFIG_INFO) {
    // The file holds only the edited sections while the request is made from it.
    fileLock.emplace(m_szConfFilePath);
    WriteRspToFile(nullptr, 0);
    WriteConfInfo();
  }
  BOOL built = BuildRequest(&request, &requestLength, command, data, dataLength, 0);
  fileLock.reset();
  if (!built) {
    EndCommand();
    TraceError("%s() :: Error in ExecuteCmd() %d\n", operation, static_cast<int>(CMD_RESULT_THREAD_NOT_STARTED));
    return CMD_RESULT_THREAD_NOT_STARTED;
  }

  CommandContext& context = m_CommandContext;
  memset(&context, 0, sizeof(context));
  snprintf(context.ServerIp, sizeof(context.ServerIp), "%s", serverIp != nullptr ? serverIp : "");
  context.Port = m_Settings.commandPort;
  context.Result = CMD_RESULT_NOT_DONE;
  context.Command = command;
  context.Request = request;
  context.RequestLength = requestLength;
  context.Cancel = cancel;
  context.Window = window;
  context.Message = message;
  context.Owner = this;

  if (m_CommandThread == nullptr) {
    auto thread = std::make_unique<CommandThread>(this);
    if (thread->Start()) m_CommandThread = std::move(thread);
  }
  if (m_CommandThread == nullptr) {
    free(context.Request);
    context.Request = nullptr;
    EndCommand();
    TraceError("%s() :: Error in ExecuteCmd() %d\n", operation, static_cast<int>(CMD_RESULT_THREAD_NOT_STARTED));
    return CMD_RESULT_THREAD_NOT_STARTED;
  }
  if (!wait) {
    m_CommandThread->Post();
    return CMD_RESULT_SUCCESS;
  }
  return m_CommandThread->Run();
}

namespace {

bool Notifies(HWND window, DWORD message) { return window != nullptr && message != 0; }

}  // namespace

DWORD CServerComm::RestoreFactoryDefaults(LPCSTR serverIp, DWORD* cancel, HWND window, DWORD message) {
  return RunCommand("RestoreFactoryDefaults", serverIp, CMD_RESTORE_FACTORY_DEFAULTS, nullptr, 0, cancel, window,
                    message, false);
}

DWORD CServerComm::ResetServer(LPCSTR serverIp, DWORD* cancel, HWND window, DWORD message) {
  return RunCommand("ResetServer", serverIp, CMD_RESET_SERVER, nullptr, 0, cancel, window, message,
                    !Notifies(window, message));
}

DWORD CServerComm::UnLockServer(LPCSTR serverIp, const BYTE* password, DWORD length, DWORD* cancel, HWND window,
                                DWORD message) {
  return RunCommand("UnLockServer", serverIp, CMD_UNLOCK_SERVER, password, length, cancel, window, message, false);
}

DWORD CServerComm::GetConfigInfo(LPCSTR serverIp, DWORD* cancel, HWND window, DWORD message) {
  return RunCommand("GetConfigInfo", serverIp, CMD_GET_CONFIG_INFO, nullptr, 0, cancel, window, message,
                    !Notifies(window, message));
}

DWORD CServerComm::SetConfigInfo(LPCSTR serverIp, DWORD* cancel, HWND window, DWORD message) {
  return RunCommand("SetConfigInfo", serverIp, CMD_SET_CONFIG_INFO, nullptr, 0, cancel, window, message, false);
}

DWORD CServerComm::GetConnectedClientDetails(LPCSTR serverIp, DWORD* cancel, HWND window, DWORD message) {
  return RunCommand("GetConnectedClientDetails", serverIp, CMD_GET_CONNECTED_CLIENTS, nullptr, 0, cancel, window,
                    message, !Notifies(window, message));
}

DWORD CServerComm::UpGradeFirmware(LPCSTR serverIp, const BYTE* fileName, DWORD length, DWORD* cancel,
                                   HWND window, DWORD message) {
  return RunCommand("UpGradeFirmware", serverIp, CMD_UPGRADE_FIRMWARE, fileName, length, cancel, window, message,
                    !Notifies(window, message));
}
