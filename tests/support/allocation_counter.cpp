#include "allocation_counter.h"

#include <stddef.h>

extern "C" {
void* __real_mi_malloc(size_t size);
void* __real_mi_realloc(void* block, size_t size);
void __real_mi_free(void* block);

static AllocationCounts counts;

void* __wrap_mi_malloc(size_t size) {
  void* block = __real_mi_malloc(size);
  if (block) counts.allocations++;
  return block;
}

void* __wrap_mi_realloc(void* block, size_t size) {
  void* moved = __real_mi_realloc(block, size);
  if (!block && moved) counts.allocations++;
  else if (moved) counts.reallocations++;
  return moved;
}

void __wrap_mi_free(void* block) {
  if (block) counts.frees++;
  __real_mi_free(block);
}
}

AllocationCounts StringAllocations() { return counts; }
