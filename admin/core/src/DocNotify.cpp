// The two driver notification threads: each sends the requests queued in its table to its driver and
// collects the driver's answers into the slots, announcing each final status to the functional pane.
//   NotifyServerArRmToDriver: m_ArrSereverArRmInfo -> the bus enumerator (WM_USER+2, WM_USER+15)
//   NotifyDeviceArRmToDriver: m_ArrDeviceArRmInfo  -> the bus driver's control device (WM_USER+3)
#include <cstdlib>

#include "admin/TavrinAdminDoc.h"
#include "admin/Trace.h"

namespace {

// The texts that tell the two threads apart in the trace log.
struct ThreadTexts {
  const char* waiting;
  const char* signalled;
  const char* requests;
  const char* responses;
  const char* closing;
};

constexpr ThreadTexts kServerTexts = {
    "Waiting for NotifyServerArRmToDriver Thread to be signalled.\n",
    "NotifyServerArRmToDriver Thread  >> Signalled...\n",
    "NotifyServerArRmToDriver Thread: >> Server Arrival/removal occured..\n",
    "NotifyServerArRmToDriver Thread: >> Driver Response Ready.. Collect it\n",
    "NotifyServerArRmToDriver Thread: >> BusEnumDriver Close Event..\n",
};

constexpr ThreadTexts kDeviceTexts = {
    "Waiting for NotifyDeviceArRmToDriver Thread to be signalled.\n",
    "NotifyDeviceArRmToDriver Thread  >> Signalled...\n",
    "NotifyDeviceArRmToDriver Thread: >> Device Arrival/removal occured..\n",
    "NotifyDeviceArRmToDriver Thread: >> Driver Response Ready.. Collect it\n",
    "NotifyDeviceArRmToDriver Thread: >> Close Bus Drvr Close..\n",
};

void Announce(HWND pane, UINT message, WPARAM wParam) {
  if (pane) ::PostMessage(pane, message, wParam, 0);
}


// The thread's main loop: index 0 requests, 1 answers, 2 the end.
template <class SendPass, class CollectCycle>
DWORD RunNotifyLoop(const ThreadTexts& texts, HANDLE requests, HANDLE responses, HANDLE close, SendPass send,
                    CollectCycle collect) {
  const HANDLE events[3] = {requests, responses, close};
  for (;;) {
    TraceInfo("%s", texts.waiting);
    const DWORD result = WaitForMultipleObjects(3, events, FALSE, INFINITE);
    TraceInfo("%s", texts.signalled);
    if (result == WAIT_OBJECT_0) {
      ResetEvent(requests);
      TraceInfo("%s", texts.requests);
      send();
    } else if (result == WAIT_OBJECT_0 + 1) {
      ResetEvent(responses);
      TraceInfo("%s", texts.responses);
      collect();
    } else if (result == WAIT_OBJECT_0 + 2) {
      ResetEvent(close);
      TraceInfo("%s", texts.closing);
      return 1;
    } else if (result == WAIT_FAILED) {
      // An event of the run is missing: waiting again would spin for ever and the thread could never end.
      TraceError("%s", texts.closing);
      return 1;
    }
  }
}

}  // namespace

void CTavrinAdminDoc::CountAnswerOff(BOOL device) {
  LONG* pending = device ? &m_nPendingDeviceRsp : &m_nPendingServerRsp;
  if (IsDisconnectingAll() && InterlockedCompareExchange(pending, 0, 0) > 0) InterlockedDecrement(pending);
}

BOOL CTavrinAdminDoc::InitBusEnumDriver() {
  m_hServerNotifyThread = CreateThread(nullptr, 0, NotifyServerArRmToDriver, this, 0, nullptr);
  m_bServerThreadUp = m_hServerNotifyThread != nullptr;
  if (!m_hServerNotifyThread) {
    TraceError("CreateThread() func for ServerArRmNotifyThread failed:%d\n", GetLastError());
    return FALSE;
  }
  return m_objBusEnum.SetBusSharedEvents(BusEnumRspEvent);
}

BOOL CTavrinAdminDoc::InitBusDriver() {
  StopBusDriverThread();  // the thread of a control device that left before this one came
  m_hDeviceNotifyThread = CreateThread(nullptr, 0, NotifyDeviceArRmToDriver, this, 0, nullptr);
  m_bDeviceThreadUp = m_hDeviceNotifyThread != nullptr;
  if (!m_hDeviceNotifyThread) {
    TraceError("CreateThread() func for ServerArRmNotifyThread failed\n");
    return FALSE;
  }
  return m_objBus.SetSharedEvents(BusRspEvent);
}

DWORD WINAPI CTavrinAdminDoc::NotifyServerArRmToDriver(LPVOID param) {
  auto* doc = static_cast<CTavrinAdminDoc*>(param);
  const HWND pane = doc->m_pPanes ? doc->m_pPanes->GetFunctionWindow() : nullptr;
  ServerRequestTable& table = doc->m_ServerRequests;

  auto sendPass = [&] {
    table.SendQueued([&](SERVER_ARRIVALREMOVAL_INFO& slot) {
      auto* record = static_cast<SERVER_ARRIVALREMOVAL_INFO*>(std::malloc(sizeof(SERVER_ARRIVALREMOVAL_INFO)));
      bool sent = false;
      if (!record) {
        TraceError("Couldn't allocate %d bytes for SERVER_ARRIVALREMOVAL_INFO structure.\n",
                   static_cast<int>(sizeof(SERVER_ARRIVALREMOVAL_INFO)));
      } else {
        *record = slot;
        record->Length = SERVER_ARRIVALREMOVAL_INFO_LENGTH;
        const DWORD serverId = record->ServerId;
        if (record->Arrival) {
          TraceInfo("Reporting Server Arrival to BUSEnum Driver ServerID : %d\n", serverId);
        } else {
          TraceInfo("Reporting Server Removal to BUSEnum Driver rServerID : %d\n", serverId);
        }
        sent = doc->m_objBusEnum.NotifyServerPresence(record);
        if (!sent) TraceError("Server Arrival Depature intimation failed:%d\n", GetLastError());
        std::free(record);
      }
      // A request that did not reach the driver is answered here, so that its slot is released and a
      // disconnect-everything does not wait for it.
      if (!sent) {
        slot.Status = ARRM_STATUS_FAILED;
        Announce(pane, WM_SERVER_ARRM_ANSWER, slot.RequestId);
        doc->CountAnswerOff(FALSE);
      }
    });
  };

  auto collectCycle = [&] {
    for (;;) {
      SERVER_ARRIVALREMOVAL_INFO* buffer = nullptr;
      if (!doc->m_objBusEnum.GetStatus(&buffer) || !buffer) {
        TraceError("Failed to get Server Arrival/Depature RSP:%d\n", GetLastError());
        std::free(buffer);
        return;
      }
      const SERVER_ARRIVALREMOVAL_INFO answer = *buffer;  // the fetch checked its length
      std::free(buffer);
      if (answer.RequestId == SPECIAL_SERVER_REQUEST_ID) {
        if (answer.Arrival && (answer.Status & ARRM_STATUS_ALREADY_PRESENT)) {
          TraceInfo("Special server arrival intimation success.\n");
          Announce(pane, WM_SPECIAL_SERVER_ARRIVED, DBT_DEVICEARRIVAL);
        }
      } else {
        SERVER_ARRIVALREMOVAL_INFO slot{};
        const uint32_t answerIp = answer.ServerIp;
        if (table.Answer(answer.RequestId, answer.Status,
                         [answerIp](const SERVER_ARRIVALREMOVAL_INFO& s) { return s.ServerIp == answerIp; }, &slot)) {
          TraceInfo(
              "NotifyServerArRmToDriver: Collecting response - Serverip=%x, pServerARInfo_IP=%x, Status=%x, Index:%x\n",
              static_cast<DWORD>(slot.ServerIp), static_cast<DWORD>(answer.ServerIp),
              static_cast<DWORD>(answer.Status), static_cast<DWORD>(answer.RequestId));
          Announce(pane, WM_SERVER_ARRM_ANSWER, answer.RequestId);
        } else {
          TraceError("NotifyServerArRmToDriver:ERROR Updating response for other Server\n");
        }
      }
      doc->CountAnswerOff(FALSE);
      if (!(answer.Status & ARRM_STATUS_MORE)) return;
    }
  };

  return RunNotifyLoop(kServerTexts, table.Event(), doc->BusEnumRspEvent, doc->BusEnumDrvrCloseEvent, sendPass,
                       collectCycle);
}

DWORD WINAPI CTavrinAdminDoc::NotifyDeviceArRmToDriver(LPVOID param) {
  auto* doc = static_cast<CTavrinAdminDoc*>(param);
  const HWND pane = doc->m_pPanes ? doc->m_pPanes->GetFunctionWindow() : nullptr;
  DeviceRequestTable& table = doc->m_DeviceRequests;

  auto sendPass = [&] {
    table.SendQueued([&](DEVICE_ARRIVALREMOVAL_INFO& slot) {
      bool sent = false;
      if (slot.Length != DEVICE_ARRIVALREMOVAL_INFO_LENGTH) {
        // The record is sent as long as its Length says: any other length than the record's own is refused.
        if (slot.Length == 0) {
          TraceError("NotifyDeviceArRmToDriver: dwBytes==0\n");
        } else {
          TraceError("NotifyDeviceArRmToDriver: dwBytes==%d\n", static_cast<int>(slot.Length));
        }
      } else if (auto* record = static_cast<DEVICE_ARRIVALREMOVAL_INFO*>(std::malloc(slot.Length)); !record) {
        TraceError("Couldn't allocate %d bytes for DEVICE_ARRIVALREMOVAL_INFO structure.\n",
                   static_cast<int>(slot.Length));
      } else {
        *record = slot;
        record->DeviceInfoLength = DEVICE_INFO_LENGTH;
        record->UserHandle = 0;
        const int port = record->PortNum;
        if (record->Arrival) {
          TraceInfo("Reporting Device Connect to Bus Driver Port : %d\n", port);
        } else {
          TraceInfo("Reporting Device Disconnect to Bus Driver Port : %d\n", port);
        }
        sent = doc->m_objBus.NotifyDevicePresence(record);
        if (!sent) TraceInfo("Device Connect Disconnect intimation failed:%d\n", GetLastError());
        std::free(record);
      }
      if (!sent) {
        slot.ArRmStatus = ARRM_STATUS_FAILED;
        Announce(pane, WM_DEVICE_ARRM_ANSWER, slot.RequestId);
        doc->CountAnswerOff(TRUE);
      }
    });
  };

  auto collectCycle = [&] {
    for (;;) {
      DEVICE_ARRIVALREMOVAL_INFO* buffer = nullptr;
      if (!doc->m_objBus.GetStatus(&buffer) || !buffer) {
        TraceError("Device status collecting failed\n");
        std::free(buffer);
        return;
      }
      const DEVICE_ARRIVALREMOVAL_INFO answer = *buffer;  // the fetch checked its length
      std::free(buffer);
      DEVICE_ARRIVALREMOVAL_INFO slot{};
      const uint32_t answerIp = answer.ServerIp;
      const uint16_t answerPort = answer.PortNum;
      if (table.Answer(answer.RequestId, answer.ArRmStatus,
                       [answerIp, answerPort](const DEVICE_ARRIVALREMOVAL_INFO& s) {
                         return s.ServerIp == answerIp && s.PortNum == answerPort;
                       },
                       &slot)) {
        Announce(pane, WM_DEVICE_ARRM_ANSWER, answer.RequestId);
        doc->CountAnswerOff(TRUE);
      } else {
        // Dropped; the answers queued behind it are still fetched.
        TraceError("NotifyDeviceArRmToDriver :Response for wrongDeviceArrivalRemoval Index %d\n",
                   static_cast<int>(answer.RequestId));
        TraceError("Port:%d Reponse for port no:%d\n", static_cast<int>(slot.PortNum), static_cast<int>(answer.PortNum));
      }
      if (!(answer.ArRmStatus & ARRM_STATUS_MORE)) return;
    }
  };

  return RunNotifyLoop(kDeviceTexts, table.Event(), doc->BusRspEvent, doc->BusDrvrCloseEvent, sendPass,
                       collectCycle);
}
