#include "program_heap.h"

#include <windows.h>

void* programHeap;
void* programModule;

void* ProgramHeapAllocate(size_t size) {
  if (!programHeap) return nullptr;
  return HeapAlloc(programHeap, HEAP_ZERO_MEMORY, size);
}

void ProgramHeapFree(void* block) {
  if (programHeap && block) HeapFree(programHeap, 0, block);
}
