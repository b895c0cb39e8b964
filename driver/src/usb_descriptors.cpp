// The descriptor cache and the selections: configuration descriptors are kept as they come back, and
// the answers to select-configuration and select-interface build the interfaces and pipes from them.
#include "usb_path.h"

namespace pelkobus::urb {
namespace {

// The descriptors of a configuration, walked by each one's bLength.
template <typename F>
void WalkConfig(const CONFIGDESC* cfg, F f) {
  ULONG total = cfg->Length >= 4 ? (cfg->Buffer[2] | cfg->Buffer[3] << 8) : 0;
  ULONG end = total < cfg->Length ? total : cfg->Length;
  for (ULONG at = cfg->Buffer[0]; at + 2 <= end;) {
    UCHAR length = cfg->Buffer[at];
    if (length < 2 || at + length > end) return;
    if (!f(cfg->Buffer + at)) return;
    at += length;
  }
}

const UCHAR* FindInterface(const CONFIGDESC* cfg, UCHAR number, UCHAR alternate) {
  const UCHAR* found = nullptr;
  WalkConfig(cfg, [&](const UCHAR* d) {
    if (d[1] == 4 && d[0] >= 9 && d[2] == number && d[3] == alternate) found = d;
    return !found;
  });
  return found;
}

// The i-th endpoint (from 1) of an interface descriptor: endpoint descriptors that follow it before the next interface.
const UCHAR* FindEndpoint(const CONFIGDESC* cfg, const UCHAR* intf, ULONG i) {
  const UCHAR* found = nullptr;
  bool inside = false;
  ULONG n = 0;
  WalkConfig(cfg, [&](const UCHAR* d) {
    if (d == intf) {
      inside = true;
      return true;
    }
    if (!inside) return true;
    if (d[1] == 4) return false;
    if (d[1] == 5 && d[0] >= 7 && ++n == i) found = d;
    return !found;
  });
  return found;
}

CONFIGDESC* FindConfig(PDO_DEVICE_DATA* pdo, UCHAR value) {
  for (PLIST_ENTRY e = pdo->ConfigDescUsed.Flink; e != &pdo->ConfigDescUsed; e = e->Flink) {
    auto* c = CONTAINING_RECORD(e, CONFIGDESC, Link);
    if (c->Length > 5 && c->Buffer[5] == value) return c;
  }
  return nullptr;
}

INTF* SelectedInterface(Path* path, UCHAR number) {
  for (PLIST_ENTRY e = path->interfaces.Flink; e != &path->interfaces; e = e->Flink) {
    INTF* i = CONTAINING_RECORD(e, INTF, Lists[1]);
    if (i->Number == number) return i;
  }
  return nullptr;
}

// Builds an interface and its pipes from the selected configuration into the client's entry. A pipe the
// pool has no record for fails a select-interface at once; a select-configuration (`lastPipe` given) goes
// on with that pipe's handle 0 and keeps in *lastPipe whether the last pipe taken got its record.
bool BuildInterface(PDO_DEVICE_DATA* pdo, USBD_INTERFACE_INFORMATION* entry, ULONG entryRoom, bool* lastPipe) {
  Path* path = PathOf(pdo);
  const UCHAR* d = FindInterface(path->selected, entry->InterfaceNumber, entry->AlternateSetting);
  if (!d) return false;
  ULONG n = d[4];
  // The client's record must have room for every pipe the interface has.
  if (entryRoom < InterfaceInformationSize(n) || entry->Length < InterfaceInformationSize(n)) return false;
  INTF* intf = Take<INTF>(&pdo->IntfFree, &pdo->IntfUsed);
  if (!intf) return false;
  intf->Number = d[2];
  intf->Handle = d[3];
  InitializeListHead(&intf->Lists[0]);
  InsertTailList(&path->interfaces, &intf->Lists[1]);
  entry->Class = d[5];
  entry->SubClass = d[6];
  entry->Protocol = d[7];
  entry->InterfaceHandle = intf;
  entry->NumberOfPipes = n;
  for (ULONG i = 1; i <= n; ++i) {
    const UCHAR* ep = FindEndpoint(path->selected, d, i);
    USBD_PIPE_INFORMATION& info = entry->Pipes[i - 1];
    info.PipeHandle = nullptr;
    if (!ep) return false;
    PIPE* p = Take<PIPE>(&pdo->PipeFree, &pdo->PipeUsed);  // the lock is already held here
    if (lastPipe) *lastPipe = p != nullptr;
    if (!p) {
      if (!lastPipe) return false;
      if (info.PipeFlags == 0) info.MaximumPacketSize = static_cast<USHORT>(ep[4] | ep[5] << 8);
      info.EndpointAddress = ep[2];
      info.Interval = ep[6];
      info.PipeType = ep[3] & 3;
      continue;
    }
    ReInitPIPE(p, i, pdo);
    p->InterfaceNumber = d[2];
    p->AlternateSetting = d[3];
    p->PortNum = pdo->PortNum;
    p->Endpoint = const_cast<UCHAR*>(ep);
    InsertTailList(&intf->Lists[0], &p->Head);
    InsertTailList(&pdo->Fbk->TransferLists[ListIndexOf(p)], &p->TypeLink);
    if (info.PipeFlags == 0) info.MaximumPacketSize = static_cast<USHORT>(ep[4] | ep[5] << 8);
    info.EndpointAddress = ep[2];
    info.Interval = ep[6];
    info.PipeType = ep[3] & 3;
    info.PipeHandle = p;
  }
  return true;
}

}  // namespace

NTSTATUS CopyDESC(PDO_DEVICE_DATA* pdo, PURB urb, ULONG length) {
  PUCHAR buffer = BufferOf(urb);
  if (length == 0 || !buffer || length > MAX_CONFIGDESC_SIZE) return STATUS_UNSUCCESSFUL;
  if (urb->UrbHeader.Function != 11 || urb->UrbControlDescriptorRequest.DescriptorType != 2) return STATUS_SUCCESS;
  if (length < 9) return STATUS_UNSUCCESSFUL;
  Path* path = PathOf(pdo);
  if (CONFIGDESC* old = FindConfig(pdo, buffer[5]); old && old != path->selected) Give(old, &pdo->ConfigDescFree);
  else if (old) {  // the selected one is refreshed in place: its pipes point into it
    if (length >= old->Length) {
      RtlCopyMemory(old->Buffer, buffer, length);
      old->Length = length;
    }
    return STATUS_SUCCESS;
  }
  CONFIGDESC* c = Take<CONFIGDESC>(&pdo->ConfigDescFree, &pdo->ConfigDescUsed);
  if (!c) return STATUS_UNSUCCESSFUL;
  RtlCopyMemory(c->Buffer, buffer, length);
  c->Length = length;
  return STATUS_SUCCESS;
}

// Releases an interface's pipes; what was still queued on them fails (and is unlinked when sent).
void FreeINTERFACE(PDO_DEVICE_DATA* pdo, INTF* intf, LIST_ENTRY* done) {
  while (!IsListEmpty(&intf->Lists[0])) {
    PIPE* p = CONTAINING_RECORD(RemoveHeadList(&intf->Lists[0]), PIPE, Head);
    KeCancelTimer(&p->IsoTimer);
    RemoveEntryList(&p->TypeLink);
    InitializeListHead(&p->TypeLink);
    p->Endpoint = nullptr;
    FailQueued(pdo, p, true, done);
    Give(p, &pdo->PipeFree);
  }
  RemoveEntryList(&intf->Lists[1]);
  InitializeListHead(&intf->Lists[1]);
  Give(intf, &pdo->IntfFree);
}

bool HandleSelectConfigResponse(PDO_DEVICE_DATA* pdo, PURB urb, LIST_ENTRY* done) {
  Path* path = PathOf(pdo);
  auto& sel = urb->UrbSelectConfiguration;
  while (!IsListEmpty(&path->interfaces))
    FreeINTERFACE(pdo, CONTAINING_RECORD(path->interfaces.Flink, INTF, Lists[1]), done);
  path->selected = nullptr;
  if (!sel.ConfigurationDescriptor) return true;
  CONFIGDESC* cfg = FindConfig(pdo, sel.ConfigurationDescriptor[5]);
  if (!cfg) return false;
  path->selected = cfg;
  sel.ConfigurationHandle = cfg;
  auto* base = reinterpret_cast<PUCHAR>(urb);
  ULONG at = offsetof(URB_SELECT_CONFIGURATION, Interface);
  // A pipe the pool cannot give leaves its handle 0 and the walk goes on; the selection then fails when
  // the last pipe taken got no record.
  bool lastPipe = true;
  while (at + offsetof(USBD_INTERFACE_INFORMATION, InterfaceHandle) <= urb->UrbHeader.Length) {
    auto* entry = reinterpret_cast<USBD_INTERFACE_INFORMATION*>(base + at);
    if (entry->Length == 0 || entry->Length > urb->UrbHeader.Length - at) break;
    if (!BuildInterface(pdo, entry, urb->UrbHeader.Length - at, &lastPipe)) return false;
    at += entry->Length;
  }
  return lastPipe;
}

bool HandleSelectInterfaceResponse(PDO_DEVICE_DATA* pdo, PURB urb, LIST_ENTRY* done) {
  Path* path = PathOf(pdo);
  auto& sel = urb->UrbSelectInterface;
  if (!path->selected) return false;
  if (INTF* old = SelectedInterface(path, sel.Interface.InterfaceNumber)) FreeINTERFACE(pdo, old, done);
  ULONG room = urb->UrbHeader.Length > offsetof(URB_SELECT_INTERFACE, Interface) ? urb->UrbHeader.Length - offsetof(URB_SELECT_INTERFACE, Interface) : 0;
  return BuildInterface(pdo, &sel.Interface, room, nullptr);
}

}  // namespace pelkobus::urb
