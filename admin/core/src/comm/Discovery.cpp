// Discovery of the servers: a broadcast request on the UDP discovery port, and a thread that lists each
// server that answers once.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <span>
#include <string>
#include <vector>

#include "admin/Trace.h"
#include "admin/comm/ServerComm.h"
#include "admin/util/Utilities.h"
#include "zarnet/discovery.h"

namespace {

bool StopRequested(DiscoveryContext* context) {
  return (context->Cancel != nullptr && __atomic_load_n(context->Cancel, __ATOMIC_SEQ_CST) == 1) ||
         __atomic_load_n(&context->Stop, __ATOMIC_SEQ_CST) != 0;
}

}  // namespace

CString GetDiscoveredServerName(const ServerDiscoveryRecord& record) {
  return CString(record.ServerName, static_cast<int>(strnlen(record.ServerName, sizeof(record.ServerName))));
}

BOOL GetServerModelName(BYTE modelCode, CString& text) {
  switch (modelCode) {
    case 0: text = "Zarnet"; break;
    case 1: text = "Zarnet-1"; break;
    default: text = "Unknown"; break;
  }
  return TRUE;
}

POSITION FindEnumeratedServer(ServerDiscoveryList* list, LPCSTR serverIp, DWORD port) {
  for (POSITION position = list->GetHeadPosition(); position != nullptr;) {
    POSITION current = position;
    const ServerDiscoveryRecord& record = list->GetNext(position);
    if (record.CommandPort == port && strncmp(record.ServerIp, serverIp, sizeof(record.ServerIp)) == 0) {
      return current;
    }
  }
  return nullptr;
}

BOOL AddDiscoveredServer(const DISCOVERY_DATAGRAM& datagram, DiscoveryContext* context) {
  ServerDiscoveryRecord record;
  memset(&record, 0, sizeof(record));
  record.CommandPort = context->CommandPort;
  snprintf(record.ServerIp, sizeof(record.ServerIp), "%.*s", static_cast<int>(sizeof(record.ServerIp) - 1),
           datagram.SenderIp);
  // The reply bytes past what arrived are zero, so the decoder sees the whole 30-byte reply.
  std::optional<zarnet::DiscoveryInfo> reply =
      zarnet::DecodeDiscoveryReply(std::span<const uint8_t>(datagram.Reply, sizeof(datagram.Reply)));
  if (reply) {
    record.ModelCode = reply->model;
    memcpy(record.MacAddress, reply->mac.data(), sizeof(record.MacAddress));
    record.LockFlag = reply->locked ? 1 : 0;
    record.FwVersionMajor = reply->fw_major;
    record.FwVersionMinor = reply->fw_minor;
    // A name longer than the record keeps its first 16 bytes.
    memcpy(record.ServerName, reply->name.data(), std::min(reply->name.size(), sizeof(record.ServerName)));
  }
  context->List->AddTail(record);
  return TRUE;
}

DWORD WINAPI EnumerateServersTh(LPVOID parameter) {
  auto* context = static_cast<DiscoveryContext*>(parameter);
  DWORD result;
  for (;;) {
    if (StopRequested(context)) {
      TraceInfo("EnumerateServersTh():: Cancel flag hasbeen set... So time to terminate.\n");
      result = DISCOVERY_STATE_CANCELLED;
      break;
    }
    DISCOVERY_DATAGRAM datagram;
    memset(&datagram, 0, sizeof(datagram));
    // One byte more than a reply may have, so that a longer datagram shows whatever the socket layer does.
    char buffer[sizeof(datagram.Reply) + 1] = {};
    sockaddr_in sender{};
    int senderLength = sizeof(sender);
    int received = recvfrom(context->Socket, buffer, sizeof(buffer), 0, reinterpret_cast<sockaddr*>(&sender),
                            &senderLength);
    int error = received == SOCKET_ERROR ? WSAGetLastError() : 0;
    if (received == SOCKET_ERROR && error == WSAETIMEDOUT) continue;
    snprintf(datagram.SenderIp, sizeof(datagram.SenderIp), "%s", inet_ntoa(sender.sin_addr));
    if ((received == SOCKET_ERROR && error == WSAEMSGSIZE) || received > static_cast<int>(sizeof(datagram.Reply))) {
      TraceInfo("Received more data than expected for Server IP Adress->%s\n", datagram.SenderIp);
      continue;
    }
    if (received == SOCKET_ERROR) {
      TraceError("EnumerateServersTh(), recvfrom : %d\n", error);
      result = DISCOVERY_STATE_RECV_FAILED;
      break;
    }
    memcpy(datagram.Reply, buffer, static_cast<size_t>(received));
    DWORD port = ntohs(sender.sin_port);
    TraceInfo("UDP Datagram of %d bytes received from \nIP Adress->%s, Port Number->%d\n", received,
              datagram.SenderIp, static_cast<int>(port));
    // The look-up and the append under one hold of the caller's lock: the caller may change its list too.
    EnterCriticalSection(context->Lock);
    if (FindEnumeratedServer(context->List, datagram.SenderIp, port) != nullptr) {
      TraceInfo("This IP is already in the enumerated list....Skip this.\n");
    } else {
      TraceInfo("Found a new device...\n");
      AddDiscoveredServer(datagram, context);
    }
    LeaveCriticalSection(context->Lock);
  }
  __atomic_store_n(&context->State, result, __ATOMIC_SEQ_CST);
  return result;
}

BOOL CServerComm::BroadcastInit(ServerDiscoveryList* list, CRITICAL_SECTION* lock, DWORD* cancel) {
  BroadcastClose();  // one run at a time
  auto* context = new (std::nothrow) DiscoveryContext{};
  if (context == nullptr) {
    TraceError("BroadcastInit(), out of memory\n");
    return FALSE;
  }
  context->State = DISCOVERY_STATE_RUNNING;
  context->Socket = INVALID_SOCKET;
  context->Cancel = cancel;
  context->Lock = lock;
  context->List = list;
  context->CommandPort = m_Settings.commandPort;
  m_pDiscoveryContext = context;

  context->Socket = socket(AF_INET, SOCK_DGRAM, 0);
  if (context->Socket == INVALID_SOCKET) {
    TraceError("BroadcastInit(), socket : %d\n", WSAGetLastError());
    return FALSE;
  }
  BOOL broadcast = TRUE;
  DWORD timeout = m_Settings.discoveryRecvTimeoutMs;
  if (setsockopt(context->Socket, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&broadcast),
                 sizeof(broadcast)) == SOCKET_ERROR ||
      setsockopt(context->Socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
                 sizeof(timeout)) == SOCKET_ERROR) {
    TraceError("BroadcastInit(), setsockopt : %d\n", WSAGetLastError());
    return FALSE;
  }
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  local.sin_port = 0;
  if (bind(context->Socket, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) == SOCKET_ERROR) {
    TraceError("BroadcastInit(), bind : %d\n", WSAGetLastError());
    return FALSE;
  }
  return TRUE;
}

BOOL CServerComm::SendBroadcastPacket() {
  DiscoveryContext* context = m_pDiscoveryContext;
  if (context == nullptr || context->Socket == INVALID_SOCKET) {
    TraceError("SendBroadcastPacket(), no discovery run is open\n");
    return FALSE;
  }
  // The address may be a comma-separated list: loopback has no broadcast, so a test names each server.
  std::vector<uint8_t> request = zarnet::EncodeDiscoveryRequest();
  BOOL sent = TRUE;
  for (const std::string& address : DiscoveryAddresses(m_Settings.discoveryAddress)) {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(m_Settings.discoveryPort);
    target.sin_addr.s_addr = inet_addr(address.c_str());
    // inet_addr answers the broadcast address for text that is no address: never send there by mistake.
    if (target.sin_addr.s_addr == INADDR_NONE && address != zarnet::kBroadcastAddress) {
      TraceError("SendBroadcastPacket(), not an address : \"%s\"\n", address.c_str());
      sent = FALSE;
      continue;
    }
    if (sendto(context->Socket, reinterpret_cast<const char*>(request.data()), static_cast<int>(request.size()), 0,
               reinterpret_cast<const sockaddr*>(&target), sizeof(target)) == SOCKET_ERROR) {
      TraceError("SendBroadcastPacket(), sendto %s : %d\n", address.c_str(), WSAGetLastError());
      sent = FALSE;
    }
  }
  return sent;
}

DWORD CServerComm::StartEnumerationForServers() {
  if (m_pDiscoveryContext == nullptr || m_pDiscoveryContext->Socket == INVALID_SOCKET || m_hEnumThread != nullptr) {
    TraceError("StartEnumerationForServers() => no open discovery run, or its thread runs already\n");
    return DISCOVERY_STATE_RUNNING;
  }
  HANDLE thread = CreateThread(nullptr, 0, EnumerateServersTh, m_pDiscoveryContext, 0, nullptr);
  if (thread == nullptr) {
    TraceError("StartEnumerationForServers() => CreateThread Error:%d\n", static_cast<int>(GetLastError()));
    return DISCOVERY_STATE_RUNNING;
  }
  m_hEnumThread = thread;
  Sleep(0);
  return 0;
}

BOOL CServerComm::BroadcastClose() {
  DiscoveryContext* context = m_pDiscoveryContext;
  if (m_hEnumThread != nullptr) {
    // The thread uses the context: end it before the context goes.
    if (context != nullptr) __atomic_store_n(&context->Stop, 1, __ATOMIC_SEQ_CST);
    WaitForSingleObject(m_hEnumThread, INFINITE);
    CloseHandle(m_hEnumThread);
    m_hEnumThread = nullptr;
  }
  if (context == nullptr) return TRUE;
  if (context->Socket != INVALID_SOCKET) CloseSocket(context->Socket);
  delete context;
  m_pDiscoveryContext = nullptr;
  return TRUE;
}
