// Pool memory: every block carries a header with its tag, so frees are checked against the tag and tests
// can count what a driver left allocated.
#include <algorithm>
#include <atomic>
#include <cstddef>
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

// The books are kept in shards, each thread counting in its own, so that drivers of different devices
// allocating at once never wait for one lock; a block freed on another thread than its allocation's makes
// one shard's count go below zero, which the sums over all shards make good.
constexpr size_t kShards = 16;
struct alignas(64) PoolShard {
  std::mutex lock;
  std::unordered_map<ULONG, ptrdiff_t> outstanding;
  ptrdiff_t total = 0;
};

struct PoolBook {
  PoolShard shards[kShards];
  std::atomic<size_t> nextShard{0};
  std::atomic<bool> failing{false};  // a failure is armed: only then is failLock taken
  std::mutex failLock;
  ULONG failTag = 0;
  int failCount = 0;
  size_t failSize = 0;  // 0: any size
};

PoolBook& Book() {
  static auto* book = new PoolBook;  // outlives every static destructor that might free pool
  return *book;
}

PoolShard& ThisThreadsShard() {
  auto& book = Book();
  thread_local PoolShard* shard = &book.shards[book.nextShard.fetch_add(1, std::memory_order_relaxed) % kShards];
  return *shard;
}

void Count(ULONG tag, ptrdiff_t change) {
  PoolShard& shard = ThisThreadsShard();
  std::lock_guard guard(shard.lock);
  auto it = shard.outstanding.try_emplace(tag, 0).first;
  if ((it->second += change) == 0) shard.outstanding.erase(it);
  shard.total += change;
}

bool FailsNow(ULONG tag, SIZE_T size) {
  auto& book = Book();
  if (!book.failing.load(std::memory_order_acquire)) return false;
  std::lock_guard guard(book.failLock);
  if (book.failCount > 0 && book.failTag == tag && (book.failSize == 0 || book.failSize == size)) {
    if (--book.failCount == 0) book.failing.store(false, std::memory_order_release);
    return true;
  }
  return false;
}

bool IsPaged(POOL_TYPE type) { return type == PagedPool; }

}  // namespace

PVOID ExAllocatePoolWithTag(POOL_TYPE poolType, SIZE_T numberOfBytes, ULONG tag) {
  if (IsPaged(poolType) && KeGetCurrentIrql() > APC_LEVEL)
    KeBugCheckEx(IRQL_NOT_LESS_OR_EQUAL, KeGetCurrentIrql(), numberOfBytes, tag, 0);
  if (FailsNow(tag, numberOfBytes)) return nullptr;
  auto* header = static_cast<PoolHeader*>(std::aligned_alloc(alignof(PoolHeader),
                                                             (sizeof(PoolHeader) + numberOfBytes + 15) / 16 * 16));
  if (!header) return nullptr;
  *header = PoolHeader{kPoolMagic, tag, poolType, numberOfBytes};
  Count(tag, 1);
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
  Count(header->tag, -1);
  header->magic = 0;
  std::free(header);
}

void ExFreePoolWithTag(PVOID p, ULONG tag) { FreePool(p, &tag); }
void ExFreePool(PVOID p) { FreePool(p, nullptr); }

namespace tavrin::wdk {

size_t PoolBlocksOutstanding(ULONG tag) {
  ptrdiff_t sum = 0;
  for (auto& shard : Book().shards) {
    std::lock_guard guard(shard.lock);
    auto it = shard.outstanding.find(tag);
    if (it != shard.outstanding.end()) sum += it->second;
  }
  return static_cast<size_t>(std::max<ptrdiff_t>(sum, 0));
}

size_t PoolBlocksOutstanding() {
  ptrdiff_t sum = 0;
  for (auto& shard : Book().shards) {
    std::lock_guard guard(shard.lock);
    sum += shard.total;
  }
  return static_cast<size_t>(std::max<ptrdiff_t>(sum, 0));
}

void FailPoolAllocations(ULONG tag, int count) { FailPoolAllocationsOfSize(tag, 0, count); }

void FailPoolAllocationsOfSize(ULONG tag, size_t size, int count) {
  auto& book = Book();
  std::lock_guard guard(book.failLock);
  book.failTag = tag;
  book.failSize = size;
  book.failCount = count;
  book.failing.store(count > 0, std::memory_order_release);
}

}  // namespace tavrin::wdk
