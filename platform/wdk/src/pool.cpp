// Pool memory: every block carries a header with its tag, so frees are checked against the tag and tests
// can count what a driver left allocated.
#include <cstdlib>
#include <mutex>
#include <unordered_map>

#include "wdk/kernel.h"
#include "wdk/wdm.h"

namespace {

constexpr uint32_t kPoolMagic = 0x6C6F6F50;  // "Pool"

struct alignas(16) PoolHeader {
  uint32_t magic;
  ULONG tag;
  POOL_TYPE type;
  SIZE_T size;
};

struct PoolBook {
  std::mutex lock;
  std::unordered_map<ULONG, size_t> outstanding;
  size_t total = 0;
  ULONG failTag = 0;
  int failCount = 0;
  size_t failSize = 0;  // 0: any size
};

PoolBook& Book() {
  static auto* book = new PoolBook;  // outlives every static destructor that might free pool
  return *book;
}

bool IsPaged(POOL_TYPE type) { return type == PagedPool; }

}  // namespace

PVOID ExAllocatePoolWithTag(POOL_TYPE poolType, SIZE_T numberOfBytes, ULONG tag) {
  if (IsPaged(poolType) && KeGetCurrentIrql() > APC_LEVEL)
    KeBugCheckEx(IRQL_NOT_LESS_OR_EQUAL, KeGetCurrentIrql(), numberOfBytes, tag, 0);
  auto& book = Book();
  {
    std::lock_guard guard(book.lock);
    if (book.failCount > 0 && book.failTag == tag && (book.failSize == 0 || book.failSize == numberOfBytes)) {
      --book.failCount;
      return nullptr;
    }
  }
  auto* header = static_cast<PoolHeader*>(std::aligned_alloc(alignof(PoolHeader),
                                                             (sizeof(PoolHeader) + numberOfBytes + 15) / 16 * 16));
  if (!header) return nullptr;
  *header = PoolHeader{kPoolMagic, tag, poolType, numberOfBytes};
  std::lock_guard guard(book.lock);
  ++book.outstanding[tag];
  ++book.total;
  return header + 1;
}

PVOID ExAllocatePool(POOL_TYPE poolType, SIZE_T numberOfBytes) {
  return ExAllocatePoolWithTag(poolType, numberOfBytes, PoolTag("None"));
}

static void FreePool(PVOID p, const ULONG* expectedTag) {
  if (!p) KeBugCheckEx(BAD_POOL_CALLER, 0, 0, 0, 0);
  auto* header = static_cast<PoolHeader*>(p) - 1;
  if (header->magic != kPoolMagic) KeBugCheckEx(BAD_POOL_CALLER, 1, reinterpret_cast<ULONG_PTR>(p), 0, 0);
  if (expectedTag && *expectedTag != header->tag)
    KeBugCheckEx(BAD_POOL_CALLER, 2, reinterpret_cast<ULONG_PTR>(p), header->tag, *expectedTag);
  if (IsPaged(header->type) && KeGetCurrentIrql() > APC_LEVEL)
    KeBugCheckEx(IRQL_NOT_LESS_OR_EQUAL, KeGetCurrentIrql(), reinterpret_cast<ULONG_PTR>(p), header->tag, 1);
  {
    auto& book = Book();
    std::lock_guard guard(book.lock);
    if (--book.outstanding[header->tag] == 0) book.outstanding.erase(header->tag);
    --book.total;
  }
  header->magic = 0;
  std::free(header);
}

void ExFreePoolWithTag(PVOID p, ULONG tag) { FreePool(p, &tag); }
void ExFreePool(PVOID p) { FreePool(p, nullptr); }

namespace tavrin::wdk {

size_t PoolBlocksOutstanding(ULONG tag) {
  auto& book = Book();
  std::lock_guard guard(book.lock);
  auto it = book.outstanding.find(tag);
  return it == book.outstanding.end() ? 0 : it->second;
}

size_t PoolBlocksOutstanding() {
  auto& book = Book();
  std::lock_guard guard(book.lock);
  return book.total;
}

void FailPoolAllocations(ULONG tag, int count) { FailPoolAllocationsOfSize(tag, 0, count); }

void FailPoolAllocationsOfSize(ULONG tag, size_t size, int count) {
  auto& book = Book();
  std::lock_guard guard(book.lock);
  book.failTag = tag;
  book.failSize = size;
  book.failCount = count;
}

}  // namespace tavrin::wdk
