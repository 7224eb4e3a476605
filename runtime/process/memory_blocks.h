#pragma once
// Raw byte buffers on a private heap of their own, and a sleep at 1 ms timer
// resolution. A block belongs to its caller until FreeBlock or EndMemoryBlocks.
#include <stddef.h>
#include <stdint.h>

const uint32_t kBlockNoClear = 1;  // flags bit 0: leave the bytes as the heap gives them

void InitMemoryBlocks();
void EndMemoryBlocks();

void* AllocateBlock(int32_t size, uint32_t flags);  // null for size <= 0 or no memory
size_t BlockSize(void* block);                       // 0 for null
int32_t FreeBlock(void* block);                      // nonzero when freed

// Negative times return at once. The first call raises the system timer
// resolution to 1 ms for the rest of the process.
void SleepMilliseconds(int32_t milliseconds);

// Pauses that end on fixed marks of a monotonic clock, one interval apart and
// counted from StartPauseMarks. Each SleepUntilNextMark returns at its mark,
// never before it, so time that one pause overran comes off the next one
// instead of adding up. A pause called after its mark has passed returns at
// once.
struct PauseMarks {
  int64_t nextMark;  // in clock ticks
  int64_t interval;  // clock ticks
};
void StartPauseMarks(PauseMarks* marks, int32_t intervalMilliseconds);
void SleepUntilNextMark(PauseMarks* marks);
