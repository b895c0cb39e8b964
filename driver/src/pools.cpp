// The per-child pools: every record the request path will use, built once at start and moved between
// free and used lists afterwards.
#include <vector>

#include "busenum.h"

namespace pelkobus {
namespace {

template <class Record>
void BuildPool(ULONG count, LIST_ENTRY* freeList, LIST_ENTRY* usedList, void (*prepare)(Record*, ULONG, PDO_DEVICE_DATA*),
               PDO_DEVICE_DATA* pdo) {
  InitializeListHead(freeList);
  if (usedList) InitializeListHead(usedList);
  for (ULONG i = 0; i < count; ++i) {
    auto* record = static_cast<Record*>(ExAllocatePoolWithTag(NonPagedPool, sizeof(Record), BUS_POOL_TAG));
    if (!record) break;  // a smaller pool; an empty free list reports it later
    RtlZeroMemory(record, sizeof(Record));
    record->Index = i;
    if (prepare) prepare(record, i, pdo);
    InsertTailList(freeList, &record->Link);
  }
}

template <class Record>
void FreeList(LIST_ENTRY* list) {
  if (!list->Flink) return;  // never built
  while (!IsListEmpty(list)) ExFreePoolWithTag(CONTAINING_RECORD(RemoveHeadList(list), Record, Link), BUS_POOL_TAG);
}

void PreparePipe(PIPE* pipe, ULONG, PDO_DEVICE_DATA* pdo) {
  pipe->PortNum = pdo->PortNum;
  pipe->Pdo = pdo;
  pipe->InterfaceNumber = 255;
  pipe->AlternateSetting = 255;
  InitializeListHead(&pipe->RequestQueue);
  InitializeListHead(&pipe->RingLink);
  InitializeListHead(&pipe->Head);
  InitializeListHead(&pipe->TypeLink);
}

void PrepareIrpContext(IRP_CONTEXT* context, ULONG, PDO_DEVICE_DATA*) {
  InitializeListHead(&context->PipeLink);
  InitializeListHead(&context->ExtraLink);
}

void PrepareConfigDesc(CONFIGDESC* record, ULONG, PDO_DEVICE_DATA*) { record->Length = MAX_CONFIGDESC_SIZE; }
void PrepareIsoPkt(ISOPKT* record, ULONG, PDO_DEVICE_DATA*) { record->DescLength = ISOPKT_DESC_SIZE; }
void PrepareIntf(INTF* record, ULONG, PDO_DEVICE_DATA*) {
  for (auto& list : record->Lists) InitializeListHead(&list);
}
void PrepareNegCommand(NEGCOMMAND* record, ULONG, PDO_DEVICE_DATA*) { InitializeListHead(&record->FbkLink); }

NTSTATUS InitializeFBKNEGCOMMANDS(PDO_DEVICE_DATA* pdo) {
  if (!pdo->Fbk || !pdo->Fbk->Pdo) {
    TRACE_MASK(0x20000, "InitializeFBKNEGCOMMANDS: pdoData==NULL");
    return STATUS_UNSUCCESSFUL;
  }
  PLIST_ENTRY e = pdo->NegCommandPool.Flink;
  for (UCHAR id = 0; id < 5 && e != &pdo->NegCommandPool; ++id, e = e->Flink) {
    NEGCOMMAND* command = CONTAINING_RECORD(e, NEGCOMMAND, Link);
    std::vector<uint8_t> message = zarnet::EncodeNegRequest(id, static_cast<uint16_t>(pdo->PortNum));
    command->CommandId = id;
    command->MessageLength = static_cast<ULONG>(message.size());
    RtlCopyMemory(command->Message, message.data(), message.size());
    command->ReplyLength = zarnet::kNegRecordMax;
    InsertTailList(&pdo->Fbk->NegCommands, &command->FbkLink);
  }
  return STATUS_SUCCESS;
}

}  // namespace

NTSTATUS AllocatePOOL(PDO_DEVICE_DATA* pdo) {
  TRACE_MASK(0x1, "AllocatePOOL ==>\n");
  pdo->SendBuffer = static_cast<PUCHAR>(ExAllocatePoolWithTag(NonPagedPool, SEND_BUFFER_SIZE, BUS_POOL_TAG));
  if (pdo->SendBuffer) {
    RtlZeroMemory(pdo->SendBuffer, SEND_BUFFER_SIZE);
    pdo->SendBufferCapacity = SEND_BUFFER_SIZE;
  }
  pdo->SendBufferFill = 0;
  BuildPool<IRP_CONTEXT>(g.MaxIrpContextCount, &pdo->IrpContextFree, &pdo->IrpContextUsed, PrepareIrpContext, pdo);
  if (g.MaxPipeCount == 0) TRACE_MASK(0x10000, "AllocatePIPEPOOL Failed");
  BuildPool<PIPE>(g.MaxPipeCount, &pdo->PipeFree, &pdo->PipeUsed, PreparePipe, pdo);
  BuildPool<CONFIGDESC>(g.MaxConfigDescCount, &pdo->ConfigDescFree, &pdo->ConfigDescUsed, PrepareConfigDesc, pdo);
  BuildPool<ISOPKT>(g.MaxIrpContextCount, &pdo->IsoPktFree, &pdo->IsoPktUsed, PrepareIsoPkt, pdo);
  BuildPool<INTF>(g.MaxInterfaceCount, &pdo->IntfFree, &pdo->IntfUsed, PrepareIntf, pdo);
  BuildPool<NEGCOMMAND>(10, &pdo->NegCommandPool, nullptr, PrepareNegCommand, pdo);
  pdo->PoolsBuilt = TRUE;
  return InitializeFBKNEGCOMMANDS(pdo);
}

void FreePOOL(PDO_DEVICE_DATA* pdo) {
  TRACE_MASK(0x1, "FreePOOL ==>\n");
  if (!pdo->PoolsBuilt) return;
  FreeList<IRP_CONTEXT>(&pdo->IrpContextFree);
  FreeList<IRP_CONTEXT>(&pdo->IrpContextUsed);
  FreeList<PIPE>(&pdo->PipeFree);
  FreeList<PIPE>(&pdo->PipeUsed);
  FreeList<CONFIGDESC>(&pdo->ConfigDescFree);
  FreeList<CONFIGDESC>(&pdo->ConfigDescUsed);
  FreeList<ISOPKT>(&pdo->IsoPktFree);
  FreeList<ISOPKT>(&pdo->IsoPktUsed);
  FreeList<INTF>(&pdo->IntfFree);
  FreeList<INTF>(&pdo->IntfUsed);
  if (pdo->Fbk) InitializeListHead(&pdo->Fbk->NegCommands);
  FreeList<NEGCOMMAND>(&pdo->NegCommandPool);
  if (pdo->SendBuffer) ExFreePoolWithTag(pdo->SendBuffer, BUS_POOL_TAG);
  pdo->SendBuffer = nullptr;
  pdo->SendBufferCapacity = pdo->SendBufferFill = 0;
  pdo->PoolsBuilt = FALSE;
}

NTSTATUS GetPIPE(PDO_DEVICE_DATA* pdo, PIPE** pipe) {
  TRACE_MASK(0x80, "GetPIPE ==>\n");
  KIRQL irql;
  KeAcquireSpinLock(&pdo->Lock, &irql);
  if (IsListEmpty(&pdo->PipeFree)) {
    KeReleaseSpinLock(&pdo->Lock, irql);
    TRACE_MASK(0x10000, "GetPIPE >> FreePipeList Empty!!");
    return STATUS_UNSUCCESSFUL;
  }
  PLIST_ENTRY e = RemoveHeadList(&pdo->PipeFree);
  InsertTailList(&pdo->PipeUsed, e);
  KeReleaseSpinLock(&pdo->Lock, irql);
  *pipe = CONTAINING_RECORD(e, PIPE, Link);
  return STATUS_SUCCESS;
}

NTSTATUS AllocateIRPCONTEXT(PDO_DEVICE_DATA* pdo, IRP_CONTEXT** context) {
  if (IsListEmpty(&pdo->IrpContextFree)) {
    TRACE_MASK(0x10000, "AllocateIRPCONTEXT >> No Allocated IRP_CONTEXT elements!!");
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  PLIST_ENTRY e = RemoveHeadList(&pdo->IrpContextFree);
  InsertTailList(&pdo->IrpContextUsed, e);
  IRP_CONTEXT* c = CONTAINING_RECORD(e, IRP_CONTEXT, Link);
  RtlZeroMemory(c->Header, sizeof c->Header);
  c->Irp = nullptr;
  c->CompletionState = 0;
  c->Pipe = nullptr;
  c->IsoPkt = nullptr;
  InitializeListHead(&c->PipeLink);
  InitializeListHead(&c->ExtraLink);
  *context = c;
  return STATUS_SUCCESS;
}

void ReleaseIRPCONTEXT(PDO_DEVICE_DATA* pdo, IRP_CONTEXT* context) {
  RemoveEntryList(&context->Link);
  context->Local = 0;
  InsertTailList(&pdo->IrpContextFree, &context->Link);
}

NTSTATUS GetNEGCOMMAND(FBK* fbk, UCHAR id, NEGCOMMAND** command) {
  for (PLIST_ENTRY e = fbk->NegCommands.Flink; e != &fbk->NegCommands; e = e->Flink) {
    NEGCOMMAND* c = CONTAINING_RECORD(e, NEGCOMMAND, FbkLink);
    if (c->CommandId == id) {
      *command = c;
      return STATUS_SUCCESS;
    }
  }
  return STATUS_UNSUCCESSFUL;
}

}  // namespace pelkobus
