#include "memory_blocks.h"

#include <windows.h>
#include <timeapi.h>

#include "memory_block_heap_win.h"

static HANDLE blockHeap;
static int32_t timerResolutionRequested;

void InitMemoryBlocks() { blockHeap = HeapCreate(0, 4096, 0); }

void EndMemoryBlocks() {
  if (blockHeap) HeapDestroy(blockHeap);
  blockHeap = nullptr;
}

// Without a heap (it could not be created, or the library has ended) every
// operation stays harmless: no heap call is made on a null heap.
void* AllocateBlock(int32_t size, uint32_t flags) {
  if (size <= 0 || !blockHeap) return nullptr;
  return HeapAlloc(blockHeap, (flags & kBlockNoClear) ? 0 : HEAP_ZERO_MEMORY, SIZE_T(size));
}

HANDLE ReplaceMemoryBlockHeap(HANDLE heap) {
  HANDLE previous = blockHeap;
  blockHeap = heap;
  return previous;
}

size_t BlockSize(void* block) {
  if (!block || !blockHeap) return 0;
  return HeapSize(blockHeap, 0, block);
}

int32_t FreeBlock(void* block) {
  if (!blockHeap) return 0;
  return HeapFree(blockHeap, 0, block) ? 1 : 0;
}

void SleepMilliseconds(int32_t milliseconds) {
  if (milliseconds < 0) return;
  if (!timerResolutionRequested) {
    timeBeginPeriod(1);
    timerResolutionRequested = 1;
  }
  Sleep(DWORD(milliseconds));
}
