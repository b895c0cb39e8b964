// A request table that feeds one driver notification thread: fixed slots, the lock that guards them and
// the event that wakes the thread. A slot is free while its RequestId is 0; a filler writes a whole slot
// (RequestId = index + 1, Taken 0) under the lock and sets the event after leaving it; the thread marks it
// Taken when it sends it and stores the driver's status; the answer's handler releases it.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "pelkobus/busenum.h"
#include "pelkobus/records.h"
#include "win32/sync.h"

constexpr int kRequestTableSlots = 260;

// How the two slot records differ: where the status lives and what a slot owns.
inline void SetSlotStatus(SERVER_ARRIVALREMOVAL_INFO& slot, uint32_t status) { slot.Status = status; }
inline void SetSlotStatus(DEVICE_ARRIVALREMOVAL_INFO& slot, uint32_t status) { slot.ArRmStatus = status; }
inline void FreeSlotData(SERVER_ARRIVALREMOVAL_INFO&) {}
// A device request owns its identifier block until its slot is released.
inline void FreeSlotData(DEVICE_ARRIVALREMOVAL_INFO& slot) {
  std::free(reinterpret_cast<void*>(static_cast<uintptr_t>(slot.Ids)));
  slot.Ids = 0;
}

template <class Slot>
class RequestTable {
 public:
  RequestTable() = default;
  ~RequestTable() { Close(); }
  RequestTable(const RequestTable&) = delete;
  RequestTable& operator=(const RequestTable&) = delete;

  // The lock and the event of a mapping run (the event is null when it cannot be made), every slot free.
  // FALSE when the event could not be made.
  BOOL Open() {
    Close();
    std::memset(slots_, 0, sizeof slots_);
    InitializeCriticalSection(&lock_);
    open_ = true;
    event_ = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    return event_ != nullptr;
  }
  // Frees what unanswered slots still own, then the event and the lock. Nothing may use the table any more.
  void Close() {
    if (!open_) return;
    for (Slot& slot : slots_) {
      if (slot.RequestId != 0) FreeSlotData(slot);
    }
    std::memset(slots_, 0, sizeof slots_);
    if (event_) CloseHandle(event_);
    event_ = nullptr;
    DeleteCriticalSection(&lock_);
    open_ = false;
  }
  bool IsOpen() const { return open_; }
  HANDLE Event() const { return event_; }
  CRITICAL_SECTION& Lock() { return lock_; }

  // Fills the first free slot under the lock (fill(slot, index) writes the request's fields after
  // RequestId, Taken 0 and the pending status were set) and wakes the thread. The index, or -1 when no
  // slot is free.
  template <class Fill>
  int Queue(Fill fill) {
    int index = -1;
    {
      tavrin::CriticalSectionGuard hold(lock_);
      for (int i = 0; i < kRequestTableSlots; ++i) {
        if (slots_[i].RequestId != 0) continue;
        Slot& slot = slots_[i];
        slot = {};
        slot.RequestId = static_cast<uint32_t>(i + 1);
        slot.Taken = 0;
        SetSlotStatus(slot, ARRM_STATUS_PENDING);
        fill(slot, i);
        index = i;
        break;
      }
    }
    if (index >= 0 && event_) SetEvent(event_);
    return index;
  }
  // The free slots now.
  int FreeSlots() {
    tavrin::CriticalSectionGuard hold(lock_);
    int free = 0;
    for (const Slot& slot : slots_) free += slot.RequestId == 0 ? 1 : 0;
    return free;
  }

  // The send pass: each queued slot not yet taken, in slot order, marked Taken and handed to send(slot)
  // with the lock held (a filler waits until the driver has the request).
  template <class Send>
  void SendQueued(Send send) {
    for (int index = 0; index < kRequestTableSlots; ++index) {
      tavrin::CriticalSectionGuard hold(lock_);
      Slot& slot = slots_[index];
      if (slot.RequestId == 0 || slot.Taken != 0) continue;
      slot.Taken = 1;
      send(slot);
    }
  }

  // Stores an answer's status in the slot of its RequestId when matches(slot) agrees; what the slot held
  // is copied to *before. FALSE when the RequestId names no slot or the slot does not match.
  template <class Matches>
  BOOL Answer(uint32_t requestId, uint32_t status, Matches matches, Slot* before) {
    if (!IsSlotRequestId(requestId)) return FALSE;
    tavrin::CriticalSectionGuard hold(lock_);
    Slot& slot = slots_[requestId - 1];
    if (before) *before = slot;
    if (slot.RequestId != requestId || !matches(slot)) return FALSE;
    SetSlotStatus(slot, status);
    return TRUE;
  }

  // A copy of the slot of RequestId; FALSE when it is free or released already.
  BOOL Read(uint32_t requestId, Slot* out) {
    if (!IsSlotRequestId(requestId)) return FALSE;
    tavrin::CriticalSectionGuard hold(lock_);
    *out = slots_[requestId - 1];
    return out->RequestId == requestId;
  }
  // A copy of the slot at an index, free or not.
  Slot At(int index) {
    if (!open_) return slots_[index];  // after the run: nothing else uses it
    tavrin::CriticalSectionGuard hold(lock_);
    return slots_[index];
  }
  // Changes the slot at an index under the lock (edit(slot)), free or not.
  template <class Change>
  void Edit(int index, Change edit) {
    tavrin::CriticalSectionGuard hold(lock_);
    edit(slots_[index]);
  }
  // Frees the slot of RequestId (and what it owns) when it still holds that request.
  void Release(uint32_t requestId) {
    if (!IsSlotRequestId(requestId)) return;
    tavrin::CriticalSectionGuard hold(lock_);
    Slot& slot = slots_[requestId - 1];
    if (slot.RequestId != requestId) return;
    FreeSlotData(slot);
    std::memset(&slot, 0, sizeof slot);
  }

  static bool IsSlotRequestId(uint32_t requestId) { return requestId >= 1 && requestId <= kRequestTableSlots; }

 private:
  Slot slots_[kRequestTableSlots] = {};
  CRITICAL_SECTION lock_{};
  HANDLE event_ = nullptr;
  bool open_ = false;
};

using ServerRequestTable = RequestTable<SERVER_ARRIVALREMOVAL_INFO>;
using DeviceRequestTable = RequestTable<DEVICE_ARRIVALREMOVAL_INFO>;
