#include "memory_blocks.h"

#include <windows.h>
#include <mmsystem.h>

#include "../library_function_win.h"
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

// timeBeginPeriod(1) is what the dial path would pay most for at start-up:
// winmm.dll brings the window and COM libraries along. The call it makes,
// NtSetTimerResolution in ntdll.dll, which every process has loaded, sets the
// same 1 ms resolution; winmm.dll is loaded only where that is missing.
static void RequestMillisecondTimer() {
  typedef LONG(NTAPI * SetTimerResolution)(ULONG hundredNanoseconds, BOOLEAN set, ULONG* current);
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  auto setResolution = LibraryFunction<SetTimerResolution>(ntdll, "NtSetTimerResolution");
  ULONG current = 0;
  if (setResolution && setResolution(10000, TRUE, &current) >= 0) return;
  HMODULE winmm = LoadLibraryExW(L"winmm.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  auto beginPeriod = LibraryFunction<MMRESULT(WINAPI*)(UINT)>(winmm, "timeBeginPeriod");
  // winmm.dll stays loaded: the resolution is kept until the process ends.
  if (beginPeriod) beginPeriod(1);
}

void SleepMilliseconds(int32_t milliseconds) {
  if (milliseconds < 0) return;
  if (!timerResolutionRequested) {
    RequestMillisecondTimer();
    timerResolutionRequested = 1;
  }
  Sleep(DWORD(milliseconds));
}

static int64_t ClockTicks() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

static int64_t ClockTicksPerSecond() {
  static int64_t ticksPerSecond;
  if (!ticksPerSecond) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    ticksPerSecond = frequency.QuadPart;
  }
  return ticksPerSecond;
}

void StartPauseMarks(PauseMarks* marks, int32_t intervalMilliseconds) {
  marks->interval = ClockTicksPerSecond() * (intervalMilliseconds < 0 ? 0 : intervalMilliseconds) / 1000;
  marks->nextMark = ClockTicks() + marks->interval;
}

void SleepUntilNextMark(PauseMarks* marks) {
  int64_t ticksPerSecond = ClockTicksPerSecond();
  for (;;) {
    int64_t left = marks->nextMark - ClockTicks();
    if (left <= 0) break;
    // To the nearest millisecond, and the last fraction of one yielded away:
    // rounding down would spin through most of a millisecond every pause, a
    // sleep of one more could end most of a timer period late, and a sleep
    // that ends early only goes round the loop again.
    SleepMilliseconds(int32_t((left * 1000 + ticksPerSecond / 2) / ticksPerSecond));
  }
  marks->nextMark += marks->interval;
}
