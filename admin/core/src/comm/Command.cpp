// One command of the command protocol on its own thread: connect, send the request, receive the response
// until "</RSP>", then turn it into a result code.
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "admin/comm/ConfFile.h"
#include "admin/comm/ResponseReader.h"
#include "admin/comm/ServerComm.h"
#include "admin/util/Utilities.h"
#include "Receive.h"
#include "admin/Trace.h"
#include "win32/user.h"


namespace {

constexpr DWORD kResponseBufferStep = 1024;

std::atomic<tavrin::ResponseReallocFn> g_responseRealloc{&realloc};

}  // namespace

void tavrin::SetResponseReallocForTest(ResponseReallocFn fn) { g_responseRealloc.store(fn ? fn : &realloc); }

namespace tavrin::comm {

bool IsCancelled(DWORD* cancel) { return cancel != nullptr && __atomic_load_n(cancel, __ATOMIC_SEQ_CST) == 1; }

bool SendAll(SOCKET socket, const char* data, DWORD length) {
  while (length > 0) {
    int sent = send(socket, data, static_cast<int>(length), 0);
    if (sent == SOCKET_ERROR || sent <= 0) return false;
    data += sent;
    length -= static_cast<DWORD>(sent);
  }
  return true;
}

DWORD ReceiveResponse(SOCKET socket, const ServerCommSettings& settings, DWORD* cancel,
                      const ReceiveTexts& texts, char** response, DWORD* received, const volatile LONG* stopped) {
  *response = nullptr;
  *received = 0;
  DWORD size = kResponseBufferStep;
  char* buffer = static_cast<char*>(g_responseRealloc.load()(nullptr, size));
  if (buffer == nullptr) {
    TraceInfo("realloc failed...\n");
    return CMD_RESULT_RECV_FAILED;
  }
  memset(buffer, 0, size);
  TraceInfo("\n uiRecvBuffSz(Initial) : %d\n", static_cast<int>(size));
  DWORD total = 0;
  DWORD room = size;
  DWORD timeouts = 0;
  DWORD result = CMD_RESULT_NOT_DONE;
  const DWORD start = GetTickCount();
  auto isStopped = [stopped] { return stopped != nullptr && __atomic_load_n(stopped, __ATOMIC_SEQ_CST) != 0; };
  for (;;) {
    if (isStopped()) {
      result = CMD_RESULT_CANCELLED;
      break;
    }
    // A server that answers a byte now and then must not hold the caller for ever.
    if (GetTickCount() - start >= settings.commandResponseTimeoutMs) {
      TraceError("No whole response within %u ms\n", settings.commandResponseTimeoutMs);
      result = CMD_RESULT_NO_RESPONSE;
      break;
    }
    if (IsCancelled(cancel)) {
      TraceInfo("ExecuteCmdTh()::Cancel has been signalled...\n");
      result = CMD_RESULT_CANCELLED;
      break;
    }
    TraceInfo("Receiving the responce...\n");
    int got = recv(socket, buffer + total, static_cast<int>(room), 0);
    if (got == SOCKET_ERROR) {
      int error = WSAGetLastError();
      if (error == WSAETIMEDOUT) {
        TraceInfo(texts.timedOut, error);
        if (++timeouts >= settings.commandRecvTimeoutLimit) {
          result = CMD_RESULT_NO_RESPONSE;
          break;
        }
        if (IsCancelled(cancel)) {
          TraceInfo("ExecuteCmdTh()::Cancel has been signalled...\n");
          result = CMD_RESULT_CANCELLED;
          break;
        }
        continue;
      }
      TraceError(texts.socketError, error);
      result = CMD_RESULT_RECV_FAILED;
      break;
    }
    if (got == 0) {
      TraceError(texts.connectionClosed, WSAGetLastError());
      result = CMD_RESULT_CONNECTION_CLOSED;
      break;
    }
    TraceInfo("\nBytes Received : %d\n", got);
    total += static_cast<DWORD>(got);
    if (IsRspComplete(buffer, total)) {
      TraceInfo("</Rsp> tag has been received...\n");
      result = CMD_RESULT_SUCCESS;
      break;
    }
    room -= static_cast<DWORD>(got);
    if (room > 0) continue;
    // Full: grow by one step, up to the size a response may have.
    if (size + kResponseBufferStep > settings.maxResponseSize) {
      TraceError("Response of more than %u bytes without </RSP>: refused\n", settings.maxResponseSize);
      result = CMD_RESULT_INVALID_RESPONSE;
      break;
    }
    TraceInfo("uiRecvBuffSz(expanded) : %d\n", static_cast<int>(size + kResponseBufferStep));
    TraceInfo("Before realloc...\n");
    char* grown = static_cast<char*>(g_responseRealloc.load()(buffer, size + kResponseBufferStep));
    if (grown == nullptr) {
      TraceInfo("realloc failed...\n");
      result = CMD_RESULT_RECV_FAILED;
      break;
    }
    TraceInfo("After realloc...\n");
    buffer = grown;
    memset(buffer + size, 0, kResponseBufferStep);
    size += kResponseBufferStep;
    room = kResponseBufferStep;
  }
  *response = buffer;
  *received = total;
  return result;
}

}  // namespace tavrin::comm

DWORD CommunicationInit(LPCSTR serverIp, DWORD port, SOCKET* socketOut, DWORD recvTimeoutMs) {
  *socketOut = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (*socketOut == INVALID_SOCKET) {
    TraceError("CommunicationInit() :: socket() error:%d\n", WSAGetLastError());
    return CMD_RESULT_SOCKET_FAILED;
  }
  DWORD timeout = recvTimeoutMs;
  if (setsockopt(*socketOut, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
                 sizeof(timeout)) == SOCKET_ERROR) {
    TraceError("CommunicationInit() :: setsockopt() error:%d\n", WSAGetLastError());
    return CMD_RESULT_SETSOCKOPT_FAILED;
  }
  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_port = htons(static_cast<u_short>(port));
  server.sin_addr.s_addr = serverIp != nullptr ? inet_addr(serverIp) : INADDR_NONE;
  if (server.sin_addr.s_addr == INADDR_NONE || server.sin_addr.s_addr == INADDR_ANY) {
    // Not an address a server can have (a broken text, or the broadcast address).
    TraceError("CommunicationInit() :: invalid server address \"%s\"\n", serverIp != nullptr ? serverIp : "");
    return CMD_RESULT_CONNECT_FAILED;
  }
  if (connect(*socketOut, reinterpret_cast<const sockaddr*>(&server), sizeof(server)) == SOCKET_ERROR) {
    TraceError("CommunicationInit() :: connect() error:%d\n", WSAGetLastError());
    return CMD_RESULT_CONNECT_FAILED;
  }
  return CMD_RESULT_SUCCESS;
}

BOOL CommunicationClose(SOCKET socket) {
  CloseSocket(socket);
  return TRUE;
}

DWORD ExecuteCmd(CommandContext* context, HANDLE* thread) {
  if (thread != nullptr) *thread = nullptr;
  HANDLE handle = CreateThread(nullptr, 0, ExecuteCmdTh, context, 0, nullptr);
  if (handle == nullptr) {
    TraceError("ExecuteCmd() => CreateThread - Error : %d \n", static_cast<int>(GetLastError()));
    return CMD_RESULT_THREAD_NOT_STARTED;
  }
  if (thread != nullptr) {
    *thread = handle;
  } else {
    CloseHandle(handle);
  }
  Sleep(0);
  return CMD_RESULT_SUCCESS;
}

DWORD WINAPI ExecuteCmdTh(LPVOID parameter) {
  auto* context = static_cast<CommandContext*>(parameter);
  CServerComm* owner = context->Owner;
  const ServerCommSettings& settings = owner->Settings();
  TraceInfo("ExecuteCmdTh() >> ExecuteCmdTh() Started... Threadid:%d\n", static_cast<int>(GetCurrentThreadId()));

  SOCKET socket = INVALID_SOCKET;
  DWORD result = CommunicationInit(context->ServerIp, context->Port, &socket, settings.commandRecvTimeoutMs);
  if (result != CMD_RESULT_SUCCESS) {
    TraceError("ExecuteCmdTh() :: Error in CommunicationInit() %d\n", static_cast<int>(result));
  } else {
    TraceInfo("Sending the command out...\n");
    if (!tavrin::comm::SendAll(socket, context->Request, context->RequestLength)) {
      TraceError("ExecuteCmdTh()::send error:%d\n", WSAGetLastError());
      result = CMD_RESULT_SEND_FAILED;
    } else {
      static const tavrin::comm::ReceiveTexts kTexts = {
          "ExecuteCmdTh() :: recv has timedout Error: %d \n",
          "ExecuteCmdTh() :: recv socket Error:%d\n",
          "received 0 bytes. Connection has closed. Error:%d\n",
      };
      char* response = nullptr;
      DWORD received = 0;
      result = tavrin::comm::ReceiveResponse(socket, settings, context->Cancel, kTexts, &response, &received);
      context->Response = response;
      context->ResponseLength = received;
    }
  }
  CommunicationClose(socket);
  TraceInfo("ExecuteCmdTh() << ExecuteCmdTh() Stoped.  Exit Code:%d\n", static_cast<int>(result));
  context->Result = result;
  if (settings.processDelayMs > 0) Sleep(settings.processDelayMs);
  return ProcessRsp(owner);
}

namespace {

// After STATUS 1 to commands 1 and 5 the server is reset by a fresh object that waits for the result.
DWORD ResetAfterSuccess(CServerComm* owner) {
  CServerComm reset;
  reset.SetSettings(owner->Settings());
  return reset.ResetServer(owner->m_CommandContext.ServerIp, owner->m_CommandContext.Cancel, nullptr, 0);
}

int StatusOf(CServerComm* owner) {
  const CommandContext& context = owner->m_CommandContext;
  return GetStatusCode(context.Response, context.ResponseLength);
}

// DATA of a successful response 4 or 6 into the configuration file, then `read` of the owner.
DWORD TakeDataThroughFile(CServerComm* owner, const char* handler, void (CServerComm::*read)()) {
  const CommandContext& context = owner->m_CommandContext;
  const char* data = nullptr;
  DWORD dataLength = 0;
  if (!GetDataFromRspBuff(context.Response, context.ResponseLength, &data, &dataLength)) {
    TraceError("%s()::Invalid RSP\n", handler);
    return CMD_RESULT_INVALID_RESPONSE;
  }
  ConfFileLock lock(owner->GetConfFilePath());
  if (!owner->WriteRspToFile(data, dataLength)) {
    TraceError("%s()::cannot write %s\n", handler, owner->GetConfFilePath());
    return CMD_RESULT_INVALID_RESPONSE;
  }
  (owner->*read)();
  return CMD_RESULT_SUCCESS;
}

}  // namespace

DWORD ProcessFactoryDefaultsRsp(CServerComm* owner) {
  switch (StatusOf(owner)) {
    case 0: return CMD_RESULT_SUCCESS;
    case 1: return ResetAfterSuccess(owner);
    default:
      TraceError("ProcessFactoryDefaultsRsp()::Invalid RSP\n");
      return CMD_RESULT_INVALID_RESPONSE;
  }
}

DWORD ProcessResetServerRsp(CServerComm* owner) {
  if (StatusOf(owner) == 0) return CMD_RESULT_SUCCESS;
  TraceError("ProcessResetServerRsp()::Invalid RSP\n");
  return CMD_RESULT_INVALID_RESPONSE;
}

DWORD ProcessUnLockRsp(CServerComm* owner) {
  switch (StatusOf(owner)) {
    case 0: return CMD_RESULT_SUCCESS;
    case 3:
      TraceError("ProcessUnLockRsp()::Incorrect Password\n");
      return CMD_RESULT_INCORRECT_PASSWORD;
    default:
      TraceError("ProcessUnLockRsp()::Invalid RSP\n");
      return CMD_RESULT_INVALID_RESPONSE;
  }
}

DWORD ProcessGetConfigRsp(CServerComm* owner) {
  if (StatusOf(owner) != 0) {
    TraceError("ProcessGetConfigRsp()::Invalid RSP\n");
    return CMD_RESULT_INVALID_RESPONSE;
  }
  return TakeDataThroughFile(owner, "ProcessGetConfigRsp", &CServerComm::ReadConfInfo);
}

DWORD ProcessSetConfigRsp(CServerComm* owner) {
  switch (StatusOf(owner)) {
    case 0: return CMD_RESULT_SUCCESS;
    case 1: return ResetAfterSuccess(owner);
    default:
      TraceError("ProcessSetConfigRsp()::Invalid RSP\n");
      return CMD_RESULT_INVALID_RESPONSE;
  }
}

DWORD ProcessGetConnectedClientsRsp(CServerComm* owner) {
  if (StatusOf(owner) != 0) {
    TraceError("ProcessGetConnectedClientsRsp()::Invalid RSP\n");
    return CMD_RESULT_INVALID_RESPONSE;
  }
  return TakeDataThroughFile(owner, "ProcessGetConnectedClientsRsp", &CServerComm::ReadConnectionTable);
}

DWORD ProcessUpgradeFWRsp(CServerComm* owner) {
  int status = StatusOf(owner);
  if (status == 0 || status == 1) return CMD_RESULT_SUCCESS;
  TraceError("ProcessUpgradeFWRsp()::Invalid RSP\n");
  return CMD_RESULT_INVALID_RESPONSE;
}

DWORD ProcessIProdStrDescRsp(const char* buffer, DWORD length) {
  if (buffer == nullptr || length == 0 || GetRspCode(buffer, length) != static_cast<int>(CMD_GET_IPRODUCT_STRING) ||
      GetSCmdCode(buffer, length) != static_cast<int>(SCMD_GET_IPRODUCT_STRING)) {
    TraceError("ProcessIProdStrDescRsp()::Invalid RSP\n");
    return CMD_RESULT_INVALID_RESPONSE;
  }
  int status = GetStatusCode(buffer, length);
  if (status == -1) {
    TraceError("ProcessIProdStrDescRsp()::Invalid CMD responce from server\n");
    return CMD_RESULT_INVALID_RESPONSE;
  }
  if (status == 4) {
    TraceError("ProcessIProdStrDescRsp()::Device not found responce from server\n");
    return CMD_RESULT_INVALID_RESPONSE;
  }
  return CMD_RESULT_SUCCESS;
}

DWORD ProcessRsp(CServerComm* owner) {
  CommandContext& context = owner->m_CommandContext;
  DWORD result = context.Result;
  if (result != CMD_RESULT_SUCCESS) {
    TraceError("ProcessRsp()::Error executing the CMD\n");
  } else if (context.Response == nullptr || context.ResponseLength == 0 ||
             GetRspCode(context.Response, context.ResponseLength) != static_cast<int>(context.Command)) {
    TraceError("ProcessRsp()::Invalid RSP\n");
    result = CMD_RESULT_INVALID_RESPONSE;
  } else if (GetStatusCode(context.Response, context.ResponseLength) == -1) {
    TraceError("ProcessRsp()::Invalid CMD responce from server\n");
    result = CMD_RESULT_INVALID_RESPONSE;
  } else {
    switch (context.Command) {
      case CMD_RESTORE_FACTORY_DEFAULTS: result = ProcessFactoryDefaultsRsp(owner); break;
      case CMD_RESET_SERVER: result = ProcessResetServerRsp(owner); break;
      case CMD_UNLOCK_SERVER: result = ProcessUnLockRsp(owner); break;
      case CMD_GET_CONFIG_INFO: result = ProcessGetConfigRsp(owner); break;
      case CMD_SET_CONFIG_INFO: result = ProcessSetConfigRsp(owner); break;
      case CMD_GET_CONNECTED_CLIENTS: result = ProcessGetConnectedClientsRsp(owner); break;
      case CMD_UPGRADE_FIRMWARE: result = ProcessUpgradeFWRsp(owner); break;
      default: result = CMD_RESULT_NOT_DONE; break;
    }
  }
  free(context.Response);
  context.Response = nullptr;
  free(context.Request);
  context.Request = nullptr;
  // Once the object is released its owner may start the next command, which rewrites the context.
  HWND window = context.Window;
  DWORD message = context.Message;
  owner->EndCommand();
  if (window != nullptr && message != 0) PostMessage(window, message, result, 0);
  return result;
}
