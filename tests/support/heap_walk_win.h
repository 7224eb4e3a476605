#pragma once
// Bytes in use on a Windows heap, summed over a HeapWalk.
#include <windows.h>

#include <stddef.h>

size_t HeapBytesInUse(HANDLE heap);
