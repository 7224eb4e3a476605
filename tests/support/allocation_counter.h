#pragma once
// Counts the runtime's calls into the string allocator (the test programs are
// linked with --wrap for mi_malloc, mi_realloc and mi_free).
struct AllocationCounts {
  long allocations;
  long reallocations;
  long frees;
  long Live() const { return allocations - frees; }
};

AllocationCounts StringAllocations();
