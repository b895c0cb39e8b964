// Printer auto-connect: one monitor thread per auto-connect printer watches the printer's Windows print
// queue, connects the printer's USB device when a job waits and disconnects it when the queue is empty.
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "../presence/Presence.h"
#include "admin/RegistryStore.h"
#include "admin/Trace.h"
#include "win32/winspool.h"

using presence::Load;

namespace {

// A monitor's name buffer holds 199 characters; longer names get no monitor.
constexpr size_t kMonitorNameChars = 200;

struct MonitorStart {
  CTavrinAdminDoc* doc;
  int slot;
};

}  // namespace

void CTavrinAdminDoc::LoadAutoConnectPrinters() { CRegistryStore().LoadAutoConnectPrinters(*this); }

BOOL CTavrinAdminDoc::UpdatePrinterMonitorEntry(const PrinterInfo& printer) {
  std::lock_guard guard(m_PrinterLock);
  return UpdatePrinterMonitorEntryLocked(printer);
}

BOOL CTavrinAdminDoc::UpdatePrinterMonitorEntryLocked(const PrinterInfo& printer) {
  for (PrinterInfo& slot : m_PrinterMonitors) {
    if (slot.PrinterName[0] == '\0' || strncmp(slot.PrinterName, printer.PrinterName, sizeof slot.PrinterName) != 0)
      continue;
    slot.AutoReconnect = printer.AutoReconnect;
    m_PrinterWake.notify_all();  // a monitor switched off ends without waiting out its pause
    return TRUE;
  }
  return FALSE;
}

BOOL CTavrinAdminDoc::OfferAutoConnectPrinter(const PrinterInfo& printer) {
  std::lock_guard guard(m_PrinterLock);
  if (UpdatePrinterMonitorEntryLocked(printer)) return FALSE;
  m_PrinterList.AddTail(printer);
  return TRUE;
}

int CTavrinAdminDoc::FindFreePrinterMonitorSlot() {
  for (int index = 0; index < kPrinterMonitorSlots; ++index)
    if (m_PrinterMonitors[index].PrinterName[0] == '\0') return index;
  return -1;
}

void CTavrinAdminDoc::StartPrinterMonitors() {
  std::vector<HANDLE> ended;  // threads of monitors whose slot is reused, joined outside the lock
  {
    std::lock_guard guard(m_PrinterLock);
    for (POSITION position = m_PrinterList.GetHeadPosition(); position != nullptr;) {
      const PrinterInfo& printer = m_PrinterList.GetNext(position);
      if (UpdatePrinterMonitorEntryLocked(printer) || printer.AutoReconnect != 1) continue;
      if (strnlen(printer.PrinterName, sizeof printer.PrinterName) >= kMonitorNameChars) {
        TraceError("PrinterMonitor >> name of %.*s too long\n", 60, printer.PrinterName);
        continue;
      }
      const int slot = FindFreePrinterMonitorSlot();
      if (slot < 0) break;
      PrinterInfo& monitor = m_PrinterMonitors[slot];
      monitor = printer;
      monitor.AutoReconnect = 1;
      m_PrinterConnectRefused[slot] = false;
      if (m_hPrinterMonitorThreads[slot]) ended.push_back(m_hPrinterMonitorThreads[slot]);
      auto* start = new MonitorStart{this, slot};
      DWORD id = 0;
      m_hPrinterMonitorThreads[slot] = CreateThread(nullptr, 0, PrinterMonitor, start, 0, &id);
      if (m_hPrinterMonitorThreads[slot] == nullptr) {
        TraceError("CreateThread() for PrinterMonitor failed\n");
        delete start;
        monitor = {};
      }
    }
  }
  for (HANDLE thread : ended) {
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
}

void CTavrinAdminDoc::WaitForPrinterMonitors() {
  std::vector<HANDLE> threads;
  {
    std::lock_guard guard(m_PrinterLock);
    m_PrinterWake.notify_all();  // under the lock: a monitor about to pause sees the stop flag first
    for (HANDLE& thread : m_hPrinterMonitorThreads) {
      if (thread) threads.push_back(thread);
      thread = nullptr;
    }
  }
  for (HANDLE thread : threads) {
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
}

POSITION CTavrinAdminDoc::FindPrinterDevice(ULONG address, WORD port, WORD vid, WORD pid, WORD rev) {
  for (POSITION position = m_DeviceList.GetHeadPosition(); position != nullptr;) {
    POSITION current = position;
    const DeviceEntry& device = m_DeviceList.GetNext(position);
    if (inet_addr(presence::AddressOf(device.ServerIp)) == address && device.PortNum == port && device.Vid == vid &&
        device.Pid == pid && device.Rev == rev) {
      TraceInfo("Device found based usVid usPid\n");
      return current;
    }
  }
  TraceInfo("Device not present in the list control!!\n");
  return nullptr;
}

BOOL CTavrinAdminDoc::IsPrinterConnected(LPCSTR printerName) {
  tavrin::CriticalSectionGuard hold(m_csDeviceList);
  for (POSITION position = m_DeviceList.GetHeadPosition(); position != nullptr;) {
    const DeviceEntry& device = m_DeviceList.GetNext(position);
    if (device.Class != 7 && device.Class != 255) continue;
    CString name;
    if (!CRegistryStore().GetPrinterName(device, name) || name.CompareNoCase(printerName) != 0) continue;
    return device.State == DEVICE_STATE_CONNECTED;
  }
  return FALSE;
}

DWORD WINAPI CTavrinAdminDoc::PrinterMonitor(LPVOID parameter) {
  auto* start = static_cast<MonitorStart*>(parameter);
  CTavrinAdminDoc* doc = start->doc;
  const int slot = start->slot;
  delete start;
  doc->RunPrinterMonitor(slot);
  return 1;
}

BOOL CTavrinAdminDoc::QueuePrinterRequest(const PrinterInfo& printer, BOOL arrival, LPCSTR foundLine, BOOL* found) {
  tavrin::CriticalSectionGuard hold(m_csDeviceList);
  POSITION position = FindPrinterDevice(printer.DeviceIP, printer.DevicePort, printer.Vid, printer.Pid, printer.Rev);
  *found = position != nullptr;
  if (!position) {
    TraceInfo("Printer Device with VID:%x,PID:%x,REV:%x,IP:%d,Port%d \t\t\t\t\tis not currently on network!!\n",
              printer.Vid, printer.Pid, printer.Rev, static_cast<int>(printer.DeviceIP), printer.DevicePort);
    return FALSE;
  }
  TraceInfo("%s", foundLine);
  return FillAndSendReqToBusDriver(position, arrival);
}

void CTavrinAdminDoc::RunPrinterMonitor(int slot) {
  char name[kMonitorNameChars] = {};
  {
    std::lock_guard guard(m_PrinterLock);
    strncpy(name, m_PrinterMonitors[slot].PrinterName, sizeof name - 1);
  }
  TraceInfo("PrinterMonitor Thread(ID:0x%0x)>>Started for Printer %s\n", static_cast<unsigned>(GetCurrentThreadId()),
            name);
  bool idle = true;        // no job seen since the queue was last empty
  bool connected = false;  // this monitor has a connect queued for the printer
  for (;;) {
    HANDLE printer = nullptr;
    if (!OpenPrinter(name, &printer, nullptr)) break;  // the printer is gone
    if (Load(m_lStop)) {
      std::lock_guard guard(m_PrinterLock);
      m_PrinterMonitors[slot].AutoReconnect = 0;
      TraceError("PrinterMonitor()==>Unloaded the Printer: %s\n", name);
    }
    DWORD needed = 0;
    if (!GetPrinter(printer, 2, nullptr, 0, &needed) && GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
      TraceError("PrinterMonitor >> GetPrinter() for %s failed. Error:%d\n", name, static_cast<int>(GetLastError()));
      ClosePrinter(printer);
      break;
    }
    auto* info = static_cast<PRINTER_INFO_2*>(malloc(needed));
    if (info == nullptr) {
      ClosePrinter(printer);
      break;
    }
    if (!GetPrinter(printer, 2, reinterpret_cast<LPBYTE>(info), needed, &needed)) {
      TraceError("PrinterMonitor >> GetPrinter() for %s failed. Error:%d\n", name, static_cast<int>(GetLastError()));
      free(info);
      ClosePrinter(printer);
      break;
    }
    const DWORD jobs = info->cJobs;
    free(info);
    ClosePrinter(printer);

    PrinterInfo monitor;
    bool refused = false;
    {
      std::lock_guard guard(m_PrinterLock);
      monitor = m_PrinterMonitors[slot];
      refused = std::exchange(m_PrinterConnectRefused[slot], false);
    }
    if (refused && !idle) {
      // The bus driver did not take the connect: nothing is connected, and waiting jobs ask again below.
      TraceInfo("%s Connect was refused by the bus driver\n", name);
      idle = true;
      connected = false;
    }
    BOOL found = FALSE;
    if (jobs > 0 && idle) {
      TraceInfo("%s Very first job entered in the PrinterQueue      -- ASK CONNECT\n", name);
      // Marked connected only when the connect was really queued; else the next poll tries again.
      if (QueuePrinterRequest(monitor, TRUE, "Intimating Printer Arrival(Auto). No need to wait for RSP\n", &found)) {
        idle = false;
        connected = true;
      }
    } else if (jobs == 0 && !idle) {
      TraceInfo("%s All jobs Finished in PrinterQueue -- ASK DISCONNECT\n", name);
      if (QueuePrinterRequest(monitor, FALSE,
                              "Informing Redirector Auto Disconnection. No need to wait for response >>  \n", &found) ||
          !found) {
        idle = true;
        connected = false;
      }
    }
    if (monitor.AutoReconnect == 0) {
      if (connected) {
        TraceInfo("%s All jobs Finished in the PrinterQueue -- ASK DISCONNECT\n", name);
        QueuePrinterRequest(monitor, FALSE, "Informing Printer Disconnection(Auto). No need to wait for RSP\n", &found);
      }
      break;
    }
    std::unique_lock guard(m_PrinterLock);
    m_PrinterWake.wait_for(guard, std::chrono::milliseconds(m_dwPrinterPollPeriod),
                           [&] { return Load(m_lStop) != 0 || m_PrinterMonitors[slot].AutoReconnect == 0; });
  }
  {
    std::lock_guard guard(m_PrinterLock);
    m_PrinterMonitors[slot].PrinterName[0] = '\0';  // frees the slot
  }
  TraceInfo("PrinterMonitor Thread >> for %s Exitting...\n", name);
}

void CTavrinAdminDoc::NotePrinterConnectRefused(const DEVICE_ARRIVALREMOVAL_INFO& answer) {
  std::lock_guard guard(m_PrinterLock);
  for (int slot = 0; slot < kPrinterMonitorSlots; ++slot) {
    const PrinterInfo& monitor = m_PrinterMonitors[slot];
    if (monitor.PrinterName[0] != '\0' && monitor.DeviceIP == answer.ServerIp && monitor.DevicePort == answer.PortNum &&
        monitor.Vid == answer.Vid && monitor.Pid == answer.Pid && monitor.Rev == answer.Rev)
      m_PrinterConnectRefused[slot] = true;
  }
}

PrinterInfo CTavrinAdminDoc::GetPrinterMonitor(int slot) {
  std::lock_guard guard(m_PrinterLock);
  return slot >= 0 && slot < kPrinterMonitorSlots ? m_PrinterMonitors[slot] : PrinterInfo{};
}

std::vector<PrinterInfo> CTavrinAdminDoc::GetPrinters() {
  std::lock_guard guard(m_PrinterLock);
  std::vector<PrinterInfo> printers;
  for (POSITION position = m_PrinterList.GetHeadPosition(); position != nullptr;)
    printers.push_back(m_PrinterList.GetNext(position));
  return printers;
}
