// Object manager: reference-counted kernel objects, handles of the requesting user process, counted strings.
#include <cstdlib>
#include <cstring>
#include <new>

#include "internal.h"
#include "wdk/ntddk.h"

namespace tavrin::wdk::internal {
namespace {
constexpr uint32_t kObjectMagic = 0x6A624F4B;  // "KObj"
}

void* NewObject(ObjectKind kind, size_t size, void (*destroy)(void* body)) {
  size_t total = sizeof(ObjectHeader) + (size + 15) / 16 * 16;
  void* block = std::aligned_alloc(alignof(ObjectHeader), total);
  if (!block) return nullptr;
  std::memset(block, 0, total);
  auto* header = new (block) ObjectHeader{kObjectMagic, kind, {1}, destroy};
  return header + 1;
}

ObjectHeader* HeaderOf(const void* body) {
  auto* header = static_cast<ObjectHeader*>(const_cast<void*>(body)) - 1;
  if (!body || header->magic != kObjectMagic)
    KeBugCheckEx(INVALID_OBJECT_REFERENCE, reinterpret_cast<ULONG_PTR>(body), 0, 0, 0);
  return header;
}

}  // namespace tavrin::wdk::internal

using namespace tavrin::wdk::internal;

namespace {
OBJECT_TYPE* const kEventType = reinterpret_cast<OBJECT_TYPE*>(static_cast<uintptr_t>(1));
OBJECT_TYPE* const kFileType = reinterpret_cast<OBJECT_TYPE*>(static_cast<uintptr_t>(2));
POBJECT_TYPE g_eventType = kEventType;
POBJECT_TYPE g_fileType = kFileType;
thread_local tavrin::wdk::Requestor* t_requestor = nullptr;
}  // namespace

POBJECT_TYPE* ExEventObjectType = &g_eventType;
POBJECT_TYPE* IoFileObjectType = &g_fileType;

void ObReferenceObject(PVOID object) { HeaderOf(object)->references.fetch_add(1); }

void ObDereferenceObject(PVOID object) {
  ObjectHeader* header = HeaderOf(object);
  long left = header->references.fetch_sub(1) - 1;
  if (left < 0) KeBugCheckEx(INVALID_OBJECT_REFERENCE, reinterpret_cast<ULONG_PTR>(object), 1, 0, 0);
  if (left > 0) return;
  if (header->destroy) header->destroy(object);
  header->magic = 0;
  header->~ObjectHeader();
  std::free(header);
}

NTSTATUS ObReferenceObjectByHandle(HANDLE handle, ACCESS_MASK, POBJECT_TYPE objectType, KPROCESSOR_MODE accessMode,
                                   PVOID* object, POBJECT_HANDLE_INFORMATION handleInformation) {
  // Kernel handles (threads, transport files) belong to the drivers themselves.
  if (accessMode == KernelMode && (objectType == *IoFileObjectType || objectType == *PsThreadType))
    return ReferenceKernelHandle(handle, objectType, object);
  // The only user handles handed to the drivers this kernel hosts are events of the requesting process.
  if (objectType != kEventType) return STATUS_OBJECT_TYPE_MISMATCH;
  tavrin::wdk::Requestor* requestor = t_requestor;
  if (!requestor) return STATUS_INVALID_HANDLE;
  std::shared_ptr<tavrin::wdk::UserEventSink> sink;
  NTSTATUS status = requestor->ReferenceEvent(handle, &sink);
  if (!NT_SUCCESS(status)) return status;
  void* body = NewObject(ObjectKind::UserEvent, sizeof(UserEventObject), [](void* p) {
    static_cast<UserEventObject*>(p)->~UserEventObject();
  });
  if (!body) return STATUS_INSUFFICIENT_RESOURCES;
  auto* user = new (body) UserEventObject{};
  user->event.Header.Type = kUserEventType;
  user->sink = std::move(sink);
  if (handleInformation) *handleInformation = OBJECT_HANDLE_INFORMATION{0, SYNCHRONIZE | EVENT_MODIFY_STATE};
  *object = &user->event;
  return STATUS_SUCCESS;
}

namespace tavrin::wdk {

ScopedRequestor::ScopedRequestor(Requestor* requestor) : previous_(t_requestor) { t_requestor = requestor; }
ScopedRequestor::~ScopedRequestor() { t_requestor = previous_; }
Requestor* CurrentRequestor() { return t_requestor; }

NTSTATUS ReadRequestorMemory(uint64_t address, void* buffer, size_t length) {
  if (length == 0) return STATUS_SUCCESS;
  if (!t_requestor || address == 0) return STATUS_ACCESS_VIOLATION;
  return t_requestor->ReadMemory(address, buffer, length);
}

std::string Narrow(const WCHAR* text, size_t length) {
  std::string out;
  out.reserve(length);
  for (size_t i = 0; i < length; ++i) out.push_back(text[i] < 0x80 ? static_cast<char>(text[i]) : '?');
  return out;
}

std::u16string Widen(const std::string& text) {
  std::u16string out;
  out.reserve(text.size());
  for (unsigned char c : text) out.push_back(c);
  return out;
}

}  // namespace tavrin::wdk

// ---- Counted strings ---------------------------------------------------------------------------------------

void RtlInitUnicodeString(PUNICODE_STRING destination, PCWSTR source) {
  size_t length = 0;
  if (source)
    while (source[length]) ++length;
  destination->Buffer = const_cast<PWSTR>(source);
  destination->Length = static_cast<USHORT>(length * sizeof(WCHAR));
  destination->MaximumLength = source ? static_cast<USHORT>(destination->Length + sizeof(WCHAR)) : 0;
}

void RtlFreeUnicodeString(PUNICODE_STRING string) {
  if (string->Buffer) ExFreePool(string->Buffer);
  string->Buffer = nullptr;
  string->Length = string->MaximumLength = 0;
}

BOOLEAN RtlEqualUnicodeString(PCUNICODE_STRING a, PCUNICODE_STRING b, BOOLEAN caseInsensitive) {
  if (a->Length != b->Length) return FALSE;
  for (size_t i = 0; i < a->Length / sizeof(WCHAR); ++i) {
    WCHAR x = a->Buffer[i], y = b->Buffer[i];
    if (caseInsensitive) {
      if (x >= 'a' && x <= 'z') x = static_cast<WCHAR>(x - 32);
      if (y >= 'a' && y <= 'z') y = static_cast<WCHAR>(y - 32);
    }
    if (x != y) return FALSE;
  }
  return TRUE;
}
