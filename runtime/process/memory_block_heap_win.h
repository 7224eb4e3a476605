#pragma once
// The heap behind the memory blocks, for tests that must run it out of room:
// the library's own heap has no maximum, so only the address space bounds it,
// and a 64-bit process never exhausts that. Swaps in another heap and returns
// the one held before; the caller puts that back before EndMemoryBlocks.
#include <windows.h>

HANDLE ReplaceMemoryBlockHeap(HANDLE heap);
