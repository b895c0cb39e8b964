// Global memory: a header before the bytes tells a block from anything else and keeps its size.
#include "win32/global_memory.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

constexpr uint64_t kMagic = 0x54564742'4C4F434BULL;  // "TVGBLOCK"

struct alignas(16) BlockHeader {
  uint64_t magic;
  SIZE_T size;
};

BlockHeader* HeaderOf(HGLOBAL block) {
  if (!block) return nullptr;
  auto* header = reinterpret_cast<BlockHeader*>(static_cast<char*>(block) - sizeof(BlockHeader));
  return header->magic == kMagic ? header : nullptr;
}

}  // namespace

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) {
  if (bytes > SIZE_MAX - sizeof(BlockHeader)) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  void* memory = (flags & GMEM_ZEROINIT) ? calloc(1, sizeof(BlockHeader) + bytes) : malloc(sizeof(BlockHeader) + bytes);
  if (!memory) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  auto* header = new (memory) BlockHeader{kMagic, bytes};
  return reinterpret_cast<char*>(header) + sizeof(BlockHeader);
}

HGLOBAL GlobalFree(HGLOBAL block) {
  BlockHeader* header = HeaderOf(block);
  if (!header) {
    if (!block) return nullptr;
    SetLastError(ERROR_INVALID_HANDLE);
    return block;
  }
  header->magic = 0;
  free(header);
  return nullptr;
}

LPVOID GlobalLock(HGLOBAL block) {
  if (!HeaderOf(block)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return block;
}

BOOL GlobalUnlock(HGLOBAL block) {
  if (!HeaderOf(block)) SetLastError(ERROR_INVALID_HANDLE);
  else SetLastError(ERROR_SUCCESS);
  return FALSE;  // no lock count is left: the block is unlocked
}

SIZE_T GlobalSize(HGLOBAL block) {
  BlockHeader* header = HeaderOf(block);
  if (!header) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return header->size;
}
