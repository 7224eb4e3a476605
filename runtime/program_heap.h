#pragma once
// Process-wide handles that the entry routine makes before the first start step
// and that the runtime libraries use afterwards.
//
// The program heap holds the runtime's bookkeeping: connection records and kept
// datagrams, the parameter state, object registries, the requester's window
// list. It is never used for managed strings (string allocator), encoded text
// (process heap) or memory blocks (their own heap). Allocation failure gives
// null; freeing null does nothing.
#include <stddef.h>

extern void* programHeap;    // HANDLE from HeapCreate(0, 4096, 0)
extern void* programModule;  // HMODULE of the executable, GetModuleHandleW(null)

void* ProgramHeapAllocate(size_t size);  // zero-filled
void ProgramHeapFree(void* block);
