// The server presence list: servers heard on the device-list port, their ageing by the refresh timer,
// and the arrival and departure requests queued for the bus enumerator.
#include <vector>

#include "Presence.h"
#include "admin/Trace.h"

using presence::Load;

namespace {

constexpr DWORD kPresenceWrap = 99;  // a count that reaches it starts again at 1, never reaching "new"

}  // namespace

void CTavrinAdminDoc::UpdateServerPresence(LPCSTR address, DWORD serverId) {
  if (Load(m_lStop)) return;
  tavrin::CriticalSectionGuard hold(m_csServerPresence);
  if (POSITION position = m_ServerPresenceList.Find(address)) {
    ServerPresenceEntry& server = m_ServerPresenceList.GetAt(position);
    if (server.Active == 0) return;  // its departure is under way: nothing changes
    if (server.PresenceCount != SERVER_PRESENCE_NEW)
      server.PresenceCount = server.PresenceCount < kPresenceWrap ? server.PresenceCount + 1 : 1;
    TraceInfo("server exists already %s  %u\n", address, server.PresenceCount);
    return;
  }
  if (static_cast<DWORD>(m_ServerPresenceList.GetCount()) >= m_Limits.MaxServers) {
    if (!m_bServerLimitReported) {
      TraceError("UpdateServerPresence(): %u servers listed already: %s and further new ones are ignored\n",
                 m_Limits.MaxServers, address);
      m_bServerLimitReported = true;
    }
    return;
  }
  m_bServerLimitReported = false;
  ServerPresenceEntry server{};
  strncpy(server.ServerIp, address, sizeof server.ServerIp - 1);
  server.ServerId = serverId;
  server.PresenceCount = SERVER_PRESENCE_NEW;
  server.Active = 1;
  server.RequestStatus = 0;
  m_ServerPresenceList.AddTail(server);
  TraceInfo("New server %s   %u\n", address, SERVER_PRESENCE_NEW);
}

int CTavrinAdminDoc::QueueServerRequest(const ServerPresenceEntry& server, BOOL arrival) {
  const uint32_t serverIp = inet_addr(presence::AddressOf(server.ServerIp));
  return m_ServerRequests.Queue([&](SERVER_ARRIVALREMOVAL_INFO& slot, int index) {
    if (arrival)
      TraceInfo("Filling m_ArrSereverArRmInfo :%d for server Arrival\n", index);
    else
      TraceInfo("Filling m_ArrSereverArRmInfo :%d for server depature \n", index);
    slot.Length = SERVER_ARRIVALREMOVAL_INFO_LENGTH;
    slot.Arrival = arrival ? 1 : 0;
    slot.ServerId = server.ServerId;
    slot.ServerIp = serverIp;
    slot.DataPort = m_wServerDataPort;
  });
}

void CTavrinAdminDoc::CheckServerArrivalRemoval() {
  std::vector<CString> removable;  // servers whose departure was answered with success
  const bool sleeping = Load(m_lSuspend) || Load(m_lResume);
  for (POSITION position = m_ServerPresenceList.GetHeadPosition(); position != nullptr;) {
    ServerPresenceEntry& server = m_ServerPresenceList.GetNext(position);
    const CString address = presence::AddressOf(server.ServerIp);
    if (server.Active == 0 && (server.RequestStatus & ARRM_STATUS_SUCCESS)) {
      if (CanRemoveServer(address)) removable.push_back(address);
      continue;
    }
    if (server.RequestStatus & (ARRM_STATUS_FAILED | ARRM_STATUS_PENDING)) {
      TraceInfo("Previous Req is Under processing \n");
      continue;
    }
    if (sleeping) continue;
    if (server.PresenceCount == SERVER_PRESENCE_NEW) {
      server.PresenceCount = 0;
      server.RequestStatus = ARRM_STATUS_PENDING;
      TraceInfo("Informing New Server Arrival to BusEnumerator...>> \n");
      if (QueueServerRequest(server, TRUE) >= 0) {
        CString text;
        text.Format("Informed New Server %s Arrival", static_cast<LPCSTR>(address));
        presence::ReportMappingStatus(*this, text);
      } else {
        TraceInfo("No free elements in m_ArrSereverArRmInfo, for Server Arrival intimation\n");
        // Still new: the next check tries again.
        server.PresenceCount = SERVER_PRESENCE_NEW;
        server.RequestStatus = 0;
      }
    } else if (server.PresenceCount != 0) {
      server.PresenceCount = 0;
    } else {
      TraceInfo("Informing Server Departure...\n");
      const DWORD answered = server.RequestStatus;
      server.Active = 0;
      server.RequestStatus = ARRM_STATUS_PENDING;
      if (QueueServerRequest(server, FALSE) >= 0) {
        CString text;
        text.Format("Informed Server %s Departure", static_cast<LPCSTR>(address));
        presence::ReportMappingStatus(*this, text);
      } else {
        TraceInfo("No free elements in m_ArrSereverArRmInfo, for severe Departure intimation\n");
        // Still silent and present: the next check tries again.
        server.Active = 1;
        server.RequestStatus = answered;
      }
    }
  }
  for (const CString& address : removable) {
    if (m_pPanes) m_pPanes->DeleteServerItem(address);
    if (POSITION position = m_ServerPresenceList.Find(address.str())) m_ServerPresenceList.RemoveAt(position);
    TraceInfo("Deleted and intimate server departure\n");
  }
}

BOOL CTavrinAdminDoc::ReportAllServersDeparted() {
  tavrin::CriticalSectionGuard hold(m_csServerPresence);
  // Only answers that will come count: a server with a request still pending, and each departure queued,
  // and only while the server thread runs. A departure is counted before it is queued: the thread may
  // count it off (a failed send) at once.
  const bool serverThreadRuns = IsServerThreadRunning();
  for (POSITION position = m_ServerPresenceList.GetHeadPosition(); position != nullptr;) {
    ServerPresenceEntry& server = m_ServerPresenceList.GetNext(position);
    const bool pending = (server.RequestStatus & ARRM_STATUS_PENDING) != 0;
    if (server.Active == 0) {
      if (pending && serverThreadRuns) InterlockedIncrement(&m_nPendingServerRsp);
      continue;
    }
    if (!pending && !(server.RequestStatus & ARRM_STATUS_SUCCESS)) continue;
    const DWORD before = server.RequestStatus;
    server.Active = 0;
    server.RequestStatus = ARRM_STATUS_PENDING;
    TraceInfo("Informing to Driver Server Departure >> \n");
    if (serverThreadRuns) InterlockedIncrement(&m_nPendingServerRsp);
    if (QueueServerRequest(server, FALSE) < 0) {
      if (serverThreadRuns) InterlockedDecrement(&m_nPendingServerRsp);
      TraceInfo(" No free Index in m_ArrSereverArRmInfo aray for severe Arrival intimation\n");
      server.Active = 1;  // not reported: a later report tries again
      server.RequestStatus = before;
    }
  }
  return TRUE;
}
