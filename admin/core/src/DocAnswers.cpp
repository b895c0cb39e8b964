// What the functional pane hands to the document: the drivers' final answers (the entries updated, the
// result reported, the slot freed) and the control device's arrival and removal.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "admin/Resource.h"
#include "admin/TavrinAdminDoc.h"
#include "admin/Trace.h"

namespace {

// A network-order IPv4 address as dotted text.
CString DottedIp(uint32_t networkOrder) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(&networkOrder);
  CString text;
  text.Format("%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
  return text;
}

// Replaces the bits `from` of a status by `to`.
DWORD Fold(DWORD status, DWORD from, DWORD to) { return (status & from) ? ((status & ~from) | to) : status; }

// Whether the bus driver's child on that server and port holds its server connection: only such a child
// makes an "already present" answer a connection (a printer still waiting for access, or a child whose
// connection was lost, carries nothing).
bool ChildIsConnected(CBus& bus, uint32_t serverIp, uint16_t port) {
  void* buffer = nullptr;
  bool connected = false;
  if (bus.GetDeviceInfo(&buffer) && buffer) {
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    const uint32_t count = pelkobus::Load<uint32_t>(bytes);
    for (uint32_t i = 0; i < count && !connected; ++i) {
      auto entry = pelkobus::Load<BUS_DEVICE_INFO>(bytes + sizeof(uint32_t) + i * sizeof(BUS_DEVICE_INFO));
      connected = entry.IP == serverIp && entry.Port == port && entry.ConnState == BUS_CONN_CONNECTED;
    }
  }
  std::free(buffer);
  return connected;
}

}  // namespace

void CTavrinAdminDoc::OnServerAnswer(DWORD requestId) {
  // An answer that arrives after the stop's clean-up has no table left to read.
  if (!m_bLocksReady) return;
  SERVER_ARRIVALREMOVAL_INFO slot;
  if (!m_ServerRequests.Read(requestId, &slot)) return;  // released already
  const CString serverIp = DottedIp(slot.ServerIp);
  DWORD status = slot.Status & ~ARRM_STATUS_MORE;
  {
    tavrin::CriticalSectionGuard hold(m_csServerPresence);
    if (POSITION position = m_ServerPresenceList.Find(serverIp.str())) {
      status = Fold(status, ARRM_STATUS_ALREADY_PRESENT | ARRM_STATUS_NOT_PRESENT, ARRM_STATUS_SUCCESS);
      m_ServerPresenceList.GetAt(position).RequestStatus = status;
    }
  }
  UINT textId = 0;
  if (status & ARRM_STATUS_FAILED) {
    textId = slot.Arrival ? IDS_SERVER_ARRIVAL_FAILED : IDS_SERVER_DEPARTURE_FAILED;
  } else if (status & ARRM_STATUS_SUCCESS) {
    textId = slot.Arrival ? IDS_SERVER_ARRIVAL_DONE : IDS_SERVER_DEPARTURE_DONE;
  }
  if (textId) {
    CString format, text;
    format.LoadString(textId);
    text.Format(format, serverIp.GetString());
    SetStatusText(text);
    AddDeviceMappingLog(text);
    TraceInfo("%s\n", text.GetString());
  }
  m_ServerRequests.Release(requestId);
}

void CTavrinAdminDoc::OnDeviceAnswer(DWORD requestId) {
  if (!m_bLocksReady) return;
  DEVICE_ARRIVALREMOVAL_INFO slot;
  if (!m_DeviceRequests.Read(requestId, &slot)) return;
  const CString serverIp = DottedIp(slot.ServerIp);
  const WORD port = slot.PortNum;
  DWORD status = slot.ArRmStatus & ~ARRM_STATUS_MORE;
  if (slot.Arrival) {
    if (status & ARRM_STATUS_ALREADY_PRESENT) {
      const bool connected = ChildIsConnected(m_objBus, slot.ServerIp, port);
      status = Fold(status, ARRM_STATUS_ALREADY_PRESENT, connected ? ARRM_STATUS_SUCCESS : ARRM_STATUS_FAILED);
    } else {
      status = Fold(status, ARRM_STATUS_SERVER_NOT_FOUND, ARRM_STATUS_FAILED);
    }
  } else {
    status = Fold(status, ARRM_STATUS_NOT_PRESENT | ARRM_STATUS_SERVER_NOT_FOUND, ARRM_STATUS_SUCCESS);
  }
  {
    tavrin::CriticalSectionGuard hold(m_csDeviceList);
    if (POSITION position = GetDevicePosition(serverIp, port)) {
      DeviceEntry& device = m_DeviceList.GetAt(position);
      device.State = slot.Arrival ? DEVICE_STATE_CONNECTED : DEVICE_STATE_DISCONNECTED;
      device.RequestStatus = status;
      device.ConnectionLost = 0;
    }
  }
  const char* format = nullptr;
  if (status & ARRM_STATUS_FAILED) {
    format = slot.Arrival ? "Device %s : %d Connect Intimation Failed!" : "Device %s : %d DisconnectIntimation Failed!";
  } else if (status & ARRM_STATUS_SUCCESS) {
    format = slot.Arrival ? "Device %s : %d Connect Intimation Successful" : "Device %s : %d Disconnect Intimation Successful";
  }
  if (format) {
    CString text;
    text.Format(format, serverIp.GetString(), port);
    SetStatusText(text);
    AddDeviceMappingLog(text);
    TraceInfo("%s\n", text.GetString());
  }
  m_DeviceRequests.Release(requestId);
}

BOOL CTavrinAdminDoc::OnControlDeviceArrival(BOOL confirmation) {
  // The control device is announced twice (the enumerator's confirmation and the interface notice): the
  // first one that finds it opens it. While the kernel host is lost only the enumerator's return (at a
  // refresh) brings the control device back.
  if (m_nBusInterfaceArrivals != 0 || m_bKernelHostLost) return FALSE;
  if (!m_objBus.Open()) {
    if (confirmation) {
      // The enumerator confirms when it has made the node; the bus driver may not have started on it
      // yet. Its interface notice follows and opens it then.
      TraceInfo("OnDeviceChange() >> control device not started yet\n");
      return FALSE;
    }
    ++m_nBusInterfaceArrivals;
    const char* text = "OnDeviceChange() >> OpenBusDriver Failed!! \n";
    TraceError("%s", text);
    ShowMessageBox(text, MB_ICONSTOP);
    if (!SpecialServerArrivalRemoval(FALSE)) {
      TraceError("OnDeviceChange() >> SpecialServerArrivalRemoval Failed!! \n");
    }
    return FALSE;
  }
  ++m_nBusInterfaceArrivals;
  if (!InitBusDriver()) {
    TraceError("OnDeviceChange() >> InitBusDriver Failed!! \n");
    return FALSE;
  }
  return TRUE;
}

void CTavrinAdminDoc::OnControlDeviceRemoval() {
  if (m_nBusInterfaceArrivals == 0) return;  // never opened
  m_nBusInterfaceArrivals = 0;
  // The device thread uses the link: it ends before the link is closed. Requests it sent are never
  // answered by a control device that is gone: they fail now, so that no one waits for them.
  StopBusDriverThread();
  FailUnansweredRequests(m_DeviceRequests, WM_DEVICE_ARRM_ANSWER, TRUE);
  m_objBus.Close();
  TraceInfo("OnDeviceChange() >> DBT_DEVICEREMOVAL Count %d\n", m_nBusInterfaceArrivals);
  // The special server reported gone. When that cannot reach the enumerator either, the kernel host
  // itself has gone: the enumerator's side is closed too and looked for at each refresh, so that mapping
  // comes back with the kernel host.
  if (!SpecialServerArrivalRemoval(FALSE)) {
    TraceError("OnDeviceChange() >> SpecialServerArrivalRemoval Failed!! \n");
    OnKernelHostLost();
  }
}

template <class Table>
void CTavrinAdminDoc::FailUnansweredRequests(Table& table, UINT message, BOOL device) {
  const HWND pane = m_pPanes ? m_pPanes->GetFunctionWindow() : nullptr;
  for (int index = 0; index < kRequestTableSlots; ++index) {
    BOOL failed = FALSE;
    table.Edit(index, [&](auto& slot) {
      if (slot.RequestId == 0) return;
      SetSlotStatus(slot, ARRM_STATUS_FAILED);
      failed = TRUE;
    });
    if (!failed) continue;
    if (pane) ::PostMessage(pane, message, static_cast<WPARAM>(index + 1), 0);
    CountAnswerOff(device);
  }
}

void CTavrinAdminDoc::OnKernelHostLost() {
  TraceError("The kernel host is gone: waiting for it to come back\n");
  SetBusEnumDrvrCloseEvent();
  JoinThread(&m_hServerNotifyThread);
  m_bServerThreadUp = false;
  FailUnansweredRequests(m_ServerRequests, WM_SERVER_ARRM_ANSWER, FALSE);
  m_objBus.DeRegisterInterface();
  m_objBusEnum.Close();
  m_bKernelHostLost = TRUE;
}

BOOL CTavrinAdminDoc::LookForKernelHost() {
  if (!m_objBusEnum.Open()) return FALSE;
  TraceInfo("The kernel host is back: announcing the servers again\n");
  m_bKernelHostLost = FALSE;
  // What the old kernel host knew is gone with it: every server is announced again as new, and no
  // device is connected any more.
  std::vector<CString> gone;
  {
    tavrin::CriticalSectionGuard hold(m_csServerPresence);
    for (POSITION position = m_ServerPresenceList.GetHeadPosition(); position != nullptr;) {
      POSITION current = position;
      ServerPresenceEntry& server = m_ServerPresenceList.GetNext(position);
      if (server.Active == 0) {
        gone.emplace_back(server.ServerIp, static_cast<int>(strnlen(server.ServerIp, sizeof server.ServerIp)));
        m_ServerPresenceList.RemoveAt(current);
        continue;
      }
      server.PresenceCount = SERVER_PRESENCE_NEW;
      server.RequestStatus = 0;
    }
  }
  for (const CString& address : gone) {
    if (m_pPanes) m_pPanes->DeleteServerItem(address);
  }
  {
    tavrin::CriticalSectionGuard hold(m_csDeviceList);
    for (POSITION position = m_DeviceList.GetHeadPosition(); position != nullptr;) {
      DeviceEntry& device = m_DeviceList.GetNext(position);
      device.State = DEVICE_STATE_FREE;
      device.RequestStatus = 1;
      device.ConnectionLost = 0;
      device.UnloadStartTick = 0;
    }
  }
  HWND paneWindow = m_pPanes ? m_pPanes->GetFunctionWindow() : nullptr;
  if (!m_objBus.RegisterInterface(paneWindow)) TraceInfo("Bus RegisterInterface failed...\n");
  if (!InitBusEnumDriver()) {
    TraceError("InitBusEnumDriver Failed!! \n");
  } else if (!SpecialServerArrivalRemoval(TRUE)) {
    TraceError("SpecialServerArrivalRemoval Failed!! \n");
  }
  return TRUE;
}
