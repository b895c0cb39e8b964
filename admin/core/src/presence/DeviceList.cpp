// The device list: devices merged in from the servers' broadcasts, their lookups, their ageing by the
// refresh timer, and the removal of every device when mapping stops or the computer resumes.
#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "Presence.h"
#include "ProductStringPool.h"
#include "admin/Resource.h"
#include "admin/TavrinAdminApp.h"
#include "admin/Trace.h"
#include "admin/comm/DocServices.h"
#include "admin/util/UsbVendors.h"
#include "zarnet/device_list.h"

using presence::Load;

namespace {

constexpr size_t kProductStringWorkers = 8;

bool InUse(const DeviceEntry& device) {
  return device.State == DEVICE_STATE_CONNECT_REQUESTED || device.State == DEVICE_STATE_CONNECTED;
}

}  // namespace

DeviceEntry MakeDeviceEntry(LPCSTR serverIp, uint32_t serverId, const zarnet::__dev_info__& info) {
  DeviceEntry device{};
  strncpy(device.ServerIp, serverIp, sizeof device.ServerIp - 1);
  device.ServerId = serverId;
  device.Class = info.cid[0];
  device.SubClass = info.cid[1];
  device.Protocol = info.cid[2];
  device.Rev = info.rev;
  device.Pid = info.pid;
  device.Vid = info.vid;
  device.BusyFlag = info.b_f;
  device.PortNum = info.portnum;
  device.Speed = info.speed;
  device.NumInterfaces = info.numINT;
  device.RequestStatus = 1;
  return device;
}

namespace {

std::optional<zarnet::DeviceListView> Decode(LPCSTR address, const BYTE* datagram, int length) {
  // Entries are read only as far as both infolen and the bytes received reach.
  std::optional<zarnet::DeviceListView> list =
      zarnet::DecodeServerDeviceList(std::span<const uint8_t>(datagram, length > 0 ? static_cast<size_t>(length) : 0));
  if (!list) TraceError("UpdateDeviceInfo(): datagram of %d bytes from %s dropped\n", length, address);
  return list;
}

}  // namespace

BOOL CTavrinAdminDoc::UpdateDeviceInfo(LPCSTR address, const BYTE* datagram, int length) {
  std::optional<zarnet::DeviceListView> list = Decode(address, datagram, length);
  if (!list) return FALSE;
  MergeDeviceList(address, *list);
  return TRUE;
}

BOOL CTavrinAdminDoc::OnDeviceListDatagram(LPCSTR address, const BYTE* datagram, int length) {
  // Read first: a datagram that cannot be read does not keep its sender present.
  std::optional<zarnet::DeviceListView> list = Decode(address, datagram, length);
  if (!list) return FALSE;
  UpdateServerPresence(address, list->server_id);
  MergeDeviceList(address, *list);
  return TRUE;
}

void CTavrinAdminDoc::MergeDeviceList(LPCSTR address, const zarnet::DeviceListView& view) {
  const zarnet::DeviceListView* list = &view;
  if (Load(m_lStop)) return;
  ServerPresenceEntry server{};
  const BOOL listed = FindServerPresence(address, &server);
  if (listed && server.Active == 0) return;  // departing: ignored
  // A sender the full server list could not take: its devices are not taken either.
  if (!listed && GetServerCount() >= static_cast<int>(m_Limits.MaxServers)) return;

  for (const zarnet::__dev_info__& info : list->devices) {
    tavrin::CriticalSectionGuard hold(m_csDeviceList);
    DeviceEntry fresh = MakeDeviceEntry(address, list->server_id, info);
    if (POSITION position = FindDevice(address, fresh.PortNum, fresh.Vid, fresh.Pid, fresh.Rev)) {
      DeviceEntry& stored = m_DeviceList.GetAt(position);
      fresh.State = stored.State;
      fresh.ConnectionLost = stored.ConnectionLost;
      fresh.SeenCount = stored.SeenCount + 1;
      fresh.Mode = stored.Mode;
      fresh.RequestStatus = stored.RequestStatus;
      fresh.ProductStringLength = stored.ProductStringLength;
      fresh.ProductString = stored.ProductString;
      fresh.VendorName = stored.VendorName;
      fresh.ProductStringState = stored.ProductStringState;
      fresh.UnloadStartTick = stored.UnloadStartTick;
      // The server gave the device up while this computer holds it.
      if (stored.State == DEVICE_STATE_CONNECTED && stored.RequestStatus == 1 && stored.BusyFlag != 0 &&
          fresh.BusyFlag == 0)
        fresh.ConnectionLost = 1;
      stored = fresh;
      TraceInfo("Already in list. PortNo %x  Mode = %d ServerID = %u\n", fresh.PortNum, fresh.Mode, fresh.ServerId);
      continue;
    }
    if (static_cast<DWORD>(m_DeviceList.GetCount()) >= m_Limits.MaxDevices) {
      if (!m_bDeviceLimitReported) {
        TraceError("UpdateDeviceInfo(): %u devices listed already: new ones of %s and others are ignored\n",
                   m_Limits.MaxDevices, address);
        m_bDeviceLimitReported = true;
      }
      return;
    }
    m_bDeviceLimitReported = false;
    fresh.State = DEVICE_STATE_FREE;
    fresh.SeenCount = 1;
    fresh.VendorName = GetUsbVendorName(fresh.Vid);
    POSITION added = m_DeviceList.AddTail(fresh);
    if (!SubmitProductStringFetch(fresh)) {
      TraceError("UpdateDeviceInfo(): Creating GetIProdStringDescTh failed\n");
      DeviceEntry& stored = m_DeviceList.GetAt(added);
      stored.ProductStringState = 2;  // shown under its vendor and product numbers
      stored.ProductString = nullptr;
      stored.ProductStringLength = 0;
    }
    TraceInfo("New Device in list. PortNo %x serverID = %u\n", fresh.PortNum, fresh.ServerId);
  }
}

BOOL CTavrinAdminDoc::SubmitProductStringFetch(const DeviceEntry& device) {
  std::shared_ptr<ProductStringPool> pool;
  {
    std::lock_guard guard(m_PresenceWorkersLock);
    if (!m_pProductStrings)
      m_pProductStrings =
          std::make_shared<ProductStringPool>(m_DeviceList, &m_csDeviceList, &m_lStop, kProductStringWorkers);
    pool = m_pProductStrings;
  }
  return pool->Submit(device);
}

void CTavrinAdminDoc::StopProductStringFetches() {
  std::shared_ptr<ProductStringPool> pool;
  {
    std::lock_guard guard(m_PresenceWorkersLock);
    pool = m_pProductStrings;
  }
  if (pool) pool->Stop();
}

POSITION CTavrinAdminDoc::FindDevice(LPCSTR address, WORD port, WORD vid, WORD pid, WORD rev) {
  return m_DeviceList.Find(DeviceKeys::Key(address, port, vid, pid, rev));
}

POSITION CTavrinAdminDoc::GetDevicePosition(LPCSTR address, WORD port) {
  return m_DeviceList.FindInGroup(DeviceKeys::Group(address, port));
}

POSITION CTavrinAdminDoc::FindDeviceByAddress(ULONG address, WORD port) {
  in_addr server{};
  server.s_addr = address;
  if (POSITION position = m_DeviceList.FindInGroup(DeviceKeys::Group(inet_ntoa(server), port))) {
    TraceInfo("Device found with specified IP & Port\n");
    return position;
  }
  TraceInfo("Device not present in the list control!!\n");
  return nullptr;
}

LPCSTR CTavrinAdminDoc::GetDeviceClassName(BYTE deviceClass) {
  switch (deviceClass) {
    case 1: return "Audio";
    case 2: return "CDC-Control";
    case 3: return "HID";
    case 5: return "Physical";
    case 6: return "Image";
    case 7: return "Printer";
    case 8: return "Mass-Storage";
    case 9: return "HUB";
    case 10: return "CDC-Data";
    case 11: return "Chip/Smart Card";
    case 13: return "Content-Security";
    case 14: return "Video";
    case 220: return "Diagnostic Device";
    case 224: return "Wireless Controller";
    case 254: return "Application-Specific";
    case 255: return "Vendor-Specific";
    default: return "Unknown";
  }
}

void CTavrinAdminDoc::CheckDeviceDeparture() {
  std::vector<POSITION> departed;  // every departed entry of this check, however many
  const bool sleeping = Load(m_lSuspend) || Load(m_lResume);
  for (POSITION position = m_DeviceList.GetHeadPosition(); position != nullptr;) {
    POSITION current = position;
    DeviceEntry& device = m_DeviceList.GetNext(position);
    if (device.SeenCount != 0 && device.ConnectionLost != 1) continue;
    departed.push_back(current);
    if (sleeping || !InUse(device)) continue;
    if (FillAndSendReqToBusDriver(current, FALSE)) {
      device.State = DEVICE_STATE_DISCONNECT_REQUESTED;
      device.RequestStatus = ARRM_STATUS_PENDING;
      if (device.UnloadStartTick == 0) device.UnloadStartTick = GetTickCount();
      presence::ReportMappingStatus(
          *this, presence::LoadFormatted(IDS_DEVICE_REMOVAL_INFORMED, static_cast<LPCSTR>(
                                                                           presence::AddressOf(device.ServerIp)),
                                         device.PortNum));
    }
  }
  for (POSITION position : departed) {
    DeviceEntry& device = m_DeviceList.GetAt(position);
    if (device.ConnectionLost == 1) {
      device.ConnectionLost = 0;  // still on its server
      continue;
    }
    if (InUse(device) ||
        (device.State == DEVICE_STATE_DISCONNECT_REQUESTED && device.RequestStatus != ARRM_STATUS_FAILED))
      continue;
    if (m_pPanes) m_pPanes->DeleteDeviceItem(device);
    if (device.ProductStringState == 2) free(device.ProductString);
    m_DeviceList.RemoveAt(position);
    TraceInfo("Deleted & Intimate Device departure...\n");
  }
}

BOOL CTavrinAdminDoc::ReportAllDevicesDeparted() {
  tavrin::CriticalSectionGuard hold(m_csDeviceList);
  const bool deviceThreadRuns = IsDeviceThreadRunning();
  for (POSITION position = m_DeviceList.GetHeadPosition(); position != nullptr;) {
    POSITION current = position;
    DeviceEntry& device = m_DeviceList.GetNext(position);
    // Only answers that will come count: a disconnect still pending, and each removal queued now, and
    // only while the device thread runs (without the control device nothing is sent or answered). A
    // removal is counted before it is queued: the thread may count it off (a failed send) at once.
    if (device.State == DEVICE_STATE_DISCONNECT_REQUESTED && device.RequestStatus == ARRM_STATUS_PENDING) {
      if (deviceThreadRuns) InterlockedIncrement(&m_nPendingDeviceRsp);
    } else if (InUse(device)) {
      if (deviceThreadRuns) InterlockedIncrement(&m_nPendingDeviceRsp);
      if (FillAndSendReqToBusDriver(current, FALSE)) {
        device.State = DEVICE_STATE_DISCONNECT_REQUESTED;
        device.RequestStatus = ARRM_STATUS_PENDING;
        TraceInfo("delete array incremented\n");
      } else if (deviceThreadRuns) {
        InterlockedDecrement(&m_nPendingDeviceRsp);
      }
    }
    free(device.ProductString);
    device.ProductString = nullptr;
    device.ProductStringLength = 0;
  }
  return TRUE;
}

BOOL CTavrinAdminDoc::DisconnectAll(BOOL wait, BOOL devices, BOOL servers) {
  // Once mapping stops, no product-string fetch may outlive the device list's lock.
  if (Load(m_lStop)) StopProductStringFetches();
  if (wait) InterlockedExchange(&m_lDisconnectAll, 1);
  if (devices) ReportAllDevicesDeparted();
  if (servers) ReportAllServersDeparted();
  if (!wait) return 0;

  BOOL timedOut = FALSE;
  const DWORD start = GetTickCount();
  const DWORD limit = GetAdminApp() ? GetAdminApp()->AppStopDeviceMappingPeriod : 180000;
  while (Load(m_nPendingDeviceRsp) != 0 || Load(m_nPendingServerRsp) != 0) {
    if (GetTickCount() - start > limit) {
      timedOut = TRUE;
      break;
    }
    CString text;
    text.LoadString(IDS_DISCONNECTING_ALL);
    TraceInfo("%s", static_cast<LPCSTR>(text));
    if (HWND pane = m_pPanes ? m_pPanes->GetFunctionWindow() : nullptr) ::PostMessage(pane, WM_STATUS_TEXT_ID, IDS_DISCONNECTING_ALL, 0);
    PumpMessages();
    Sleep(100);
  }
  if (timedOut) {
    CString text;
    text.LoadString(IDS_DISCONNECT_TIMEOUT);
    TraceInfo("%s", static_cast<LPCSTR>(text));
    if (HWND pane = m_pPanes ? m_pPanes->GetFunctionWindow() : nullptr) ::PostMessage(pane, WM_STATUS_TEXT_ID, IDS_DISCONNECT_TIMEOUT, 0);
  }
  InterlockedExchange(&m_lDisconnectAll, 0);
  return timedOut;
}
