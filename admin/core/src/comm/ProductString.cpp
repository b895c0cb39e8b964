#include "admin/comm/ProductString.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "Receive.h"
#include "admin/TavrinAdminApp.h"
#include "admin/TavrinAdminDoc.h"
#include "admin/Trace.h"
#include "admin/comm/DocServices.h"
#include "admin/comm/ResponseReader.h"
#include "admin/comm/ServerComm.h"

namespace {

bool Stopped(const volatile LONG* flag) { return __atomic_load_n(flag, __ATOMIC_SEQ_CST) != 0; }

// One try on a new connection; the response (malloc) is handed back also after a failure.
DWORD TryOnce(CServerComm& comm, const DeviceEntry& device, const CString& serverIp, char** response,
              DWORD* received, const volatile LONG* mappingStopped, FetchWatch* watch) {
  *response = nullptr;
  *received = 0;
  const ServerCommSettings& settings = comm.Settings();
  SOCKET socket = INVALID_SOCKET;
  DWORD result = CommunicationInit(serverIp, settings.commandPort, &socket, settings.commandRecvTimeoutMs);
  if (result != CMD_RESULT_SUCCESS) {
    TraceError("GetIProdStringDescTh() :: Error in CommunicationInit() %d for Server:%s\n", static_cast<int>(result),
               static_cast<LPCSTR>(serverIp));
    CommunicationClose(socket);
    return result;
  }
  if (watch != nullptr && !watch->Begin(socket)) {
    CommunicationClose(socket);
    return CMD_RESULT_CANCELLED;
  }
  TraceInfo("Sending the command out...\n");
  std::string port = std::to_string(device.PortNum);
  char* request = nullptr;
  DWORD requestLength = 0;
  if (!comm.BuildRequest(&request, &requestLength, CMD_GET_IPRODUCT_STRING, reinterpret_cast<const BYTE*>(port.data()),
                         static_cast<DWORD>(port.size()), SCMD_GET_IPRODUCT_STRING)) {
    if (watch != nullptr) watch->End(socket);
    CommunicationClose(socket);
    return CMD_RESULT_SEND_FAILED;
  }
  if (!tavrin::comm::SendAll(socket, request, requestLength)) {
    TraceError("GetIProdStringDescTh()::send error:%d\n", WSAGetLastError());
    result = CMD_RESULT_SEND_FAILED;
  } else {
    static const tavrin::comm::ReceiveTexts kTexts = {
        "GetIProdStringDescTh() :: recv has timedout Error: %d \n",
        "GetIProdStringDescTh() :: recv socket Error:%d\n",
        "GetIProdStringDescTh :: received 0 bytes. Connection has closed.\n",
    };
    result = tavrin::comm::ReceiveResponse(socket, settings, nullptr, kTexts, response, received, mappingStopped);
  }
  free(request);
  if (watch != nullptr) watch->End(socket);
  CommunicationClose(socket);
  return result;
}

// The product string in the DATA of a response: only bytes inside the DATA, at most 255 (a length word
// that says more is cut); none without DATA or a whole length word.
std::optional<std::string> ReadProductString(const char* response, DWORD received) {
  const char* data = nullptr;
  DWORD dataLength = 0;
  if (!GetDataFromRspBuff(response, received, &data, &dataLength)) return std::nullopt;
  return zarnet::DecodeProductString(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(data), dataLength));
}

}  // namespace

DWORD FetchProductString(DeviceList& devices, CRITICAL_SECTION* lock, const volatile LONG* mappingStopped,
                         const DeviceEntry& device, FetchWatch* watch) {
  auto comm = std::make_unique<CServerComm>();
  const CString serverIp(device.ServerIp, static_cast<int>(strnlen(device.ServerIp, sizeof(device.ServerIp))));
  if (Stopped(mappingStopped)) {
    TraceError("Device mapping is stoped..Not required to go further..\n");
    return CMD_RESULT_NOT_DONE;
  }
  if (!SetProductStringState(devices, lock, device, 1)) {
    TraceError("ServerIP: %s, Portno: %d are not found in DeviceInfoList.", static_cast<LPCSTR>(serverIp),
               device.PortNum);
    return CMD_RESULT_NOT_DONE;
  }
  TraceInfo("GetIProdStringDescTh() >> GetIProdStringDescTh() Started... Threadid:%d\n",
            static_cast<int>(GetCurrentThreadId()));
  TraceInfo("GetIProdStringDescTh >> ServerIP %s, USBPort %d\n", static_cast<LPCSTR>(serverIp), device.PortNum);

  const DWORD attempts = std::max<DWORD>(comm->Settings().productStringAttempts, 1);
  DWORD result = CMD_RESULT_NOT_DONE;
  char* response = nullptr;
  DWORD received = 0;
  for (DWORD attempt = 1;; ++attempt) {
    result = TryOnce(*comm, device, serverIp, &response, &received, mappingStopped, watch);
    if (Stopped(mappingStopped) || result == CMD_RESULT_SUCCESS || result == CMD_RESULT_CANCELLED ||
        attempt >= attempts)
      break;
    EnterCriticalSection(lock);
    if (FindDeviceByIdentity(devices, device) != nullptr) {
      TraceInfo("Trying again... RetryCount=%d\n", static_cast<int>(attempts - attempt));
    }
    LeaveCriticalSection(lock);
    free(response);
    response = nullptr;
  }

  const bool stopped = Stopped(mappingStopped) || result == CMD_RESULT_CANCELLED;
  std::optional<std::string> text;
  if (!stopped && result == CMD_RESULT_SUCCESS) {
    result = ProcessIProdStrDescRsp(response, received);
    if (result != CMD_RESULT_SUCCESS) {
      TraceError("ProcessIProdStrDescRsp FAILED - status=%x\n", static_cast<unsigned>(result));
    } else if (!(text = ReadProductString(response, received))) {
      result = CMD_RESULT_INVALID_RESPONSE;
      TraceError("GetDataFromRspBuff FAILED - status=%x\n", static_cast<unsigned>(result));
    }
  }
  if (stopped) {
    // the device list is going away: nothing more to record
  } else if (!text) {
    MarkProductStringFailed(devices, lock, device);
  } else {
    zarnet::iproduct_string productString{};
    productString.length = static_cast<uint32_t>(text->size());
    memcpy(productString.text, text->data(), text->size());
    StoreProductString(devices, lock, device, &productString);
  }
  free(response);
  TraceInfo("GetIProdStringDescTh >>Stoped ServerIP %s, USBPort %d\n", static_cast<LPCSTR>(serverIp), device.PortNum);
  TraceInfo("GetIProdStringDescTh() >> GetIProdStringDescTh() Stoped... Threadid:%d\n",
            static_cast<int>(GetCurrentThreadId()));
  return result;
}

DWORD WINAPI GetIProdStringDescTh(LPVOID parameter) {
  std::unique_ptr<DeviceEntry> device(static_cast<DeviceEntry*>(parameter));
  CTavrinAdminApp* app = GetAdminApp();
  CTavrinAdminDoc* document = app != nullptr ? app->GetDocument() : nullptr;
  if (document == nullptr) {
    TraceError("GetIProdStringDescTh() :: no document\n");
    return CMD_RESULT_NOT_DONE;
  }
  return FetchProductString(document->m_DeviceList, &document->m_csDeviceList, document->StopFlag(), *device);
}
