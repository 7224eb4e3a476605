// Memory blocks on their private heap, and the sleep primitive. The heap is
// found from the outside by walking the process's heaps for a known block.
#include <gtest/gtest.h>
#include <windows.h>
#include <limits.h>

#include <vector>

#include "heap_walk_win.h"
#include "runtime/process/memory_block_heap_win.h"
#include "runtime/process/memory_blocks.h"
#include "runtime/program_heap.h"

namespace {
bool HeapHolds(HANDLE heap, const void* block) {
  bool found = false;
  PROCESS_HEAP_ENTRY entry = {};
  HeapLock(heap);
  while (!found && HeapWalk(heap, &entry)) {
    found = (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) && entry.lpData == block;
  }
  HeapUnlock(heap);
  return found;
}

std::vector<HANDLE> ProcessHeaps() {
  std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr) + 16);
  heaps.resize(GetProcessHeaps(DWORD(heaps.size()), heaps.data()));
  return heaps;
}

bool HeapExists(HANDLE heap) {
  for (HANDLE h : ProcessHeaps())
    if (h == heap) return true;
  return false;
}

// The heap that holds `block`, or null.
HANDLE HeapOf(const void* block) {
  for (HANDLE heap : ProcessHeaps())
    if (HeapHolds(heap, block)) return heap;
  return nullptr;
}

HANDLE BlockHeap() {
  void* probe = AllocateBlock(16, 0);
  HANDLE heap = HeapOf(probe);
  FreeBlock(probe);
  return heap;
}

bool AllZero(const void* block, size_t size) {
  const uint8_t* bytes = static_cast<const uint8_t*>(block);
  for (size_t i = 0; i < size; i++)
    if (bytes[i]) return false;
  return true;
}

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

template <typename Action>
double TimeMilliseconds(Action action) {
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  action();
  QueryPerformanceCounter(&end);
  return Milliseconds(start, end);
}
}  // namespace

// ---------------------------------------------------------------- AllocateBlock

TEST(AllocateBlock, LivesOnAPrivateHeap) {
  HANDLE heap = BlockHeap();
  ASSERT_NE(nullptr, heap);
  EXPECT_NE(GetProcessHeap(), heap);
  EXPECT_NE(programHeap, heap);
}

TEST(AllocateBlock, NoSizeGivesNullAndLeavesTheHeapAlone) {
  HANDLE heap = BlockHeap();
  ASSERT_NE(nullptr, heap);
  size_t inUse = HeapBytesInUse(heap);
  const struct {
    int32_t size;
    uint32_t flags;
  } cases[] = {{0, 0}, {-5, 1}, {-1, 0}, {INT_MIN, 0}, {0, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    EXPECT_EQ(nullptr, AllocateBlock(c.size, c.flags));
  }
  EXPECT_EQ(inUse, HeapBytesInUse(heap));
}

// The bytes are made dirty first, so that zeros cannot come from a fresh page.
TEST(AllocateBlock, ClearedUnlessBitZeroIsSet) {
  for (uint32_t flags : {0u, 2u}) {
    SCOPED_TRACE(flags);
    for (int round = 0; round < 4; round++) {
      void* dirty = AllocateBlock(1024, kBlockNoClear);
      ASSERT_NE(nullptr, dirty);
      memset(dirty, 0xAB, 1024);
      FreeBlock(dirty);
      void* block = AllocateBlock(1024, flags);
      ASSERT_NE(nullptr, block);
      EXPECT_TRUE(AllZero(block, 1024));
      EXPECT_EQ(1024u, BlockSize(block));
      memset(block, 0xCD, 1024);
      EXPECT_NE(0, FreeBlock(block));
    }
  }
}

TEST(AllocateBlock, NoClearFlagGivesUsableBytes) {
  for (uint32_t flags : {1u, 3u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(flags);
    uint8_t* block = static_cast<uint8_t*>(AllocateBlock(1024, flags));
    ASSERT_NE(nullptr, block);
    EXPECT_EQ(1024u, BlockSize(block));
    memset(block, 0x5A, 1024);
    EXPECT_EQ(0x5A, block[1023]);
    EXPECT_NE(0, FreeBlock(block));
  }
}

TEST(AllocateBlock, ExhaustedHeapGivesNull) {
  // A heap with a maximum size runs out the same way in a 32-bit and in a
  // 64-bit process.
  const SIZE_T kHeapLimit = 1 << 20;
  const int32_t kBlockBytes = 16 * 1024;
  HANDLE bounded = HeapCreate(0, 0, kHeapLimit);
  ASSERT_NE(nullptr, bounded);
  HANDLE own = ReplaceMemoryBlockHeap(bounded);

  std::vector<void*> blocks;
  while (blocks.size() <= kHeapLimit / kBlockBytes) {
    void* block = AllocateBlock(kBlockBytes, blocks.size() % 2 ? kBlockNoClear : 0);
    if (!block) break;
    blocks.push_back(block);
  }
  EXPECT_FALSE(blocks.empty());
  EXPECT_LE(blocks.size(), kHeapLimit / kBlockBytes) << "the heap never ran out";
  EXPECT_EQ(nullptr, AllocateBlock(kBlockBytes, 0));
  EXPECT_EQ(nullptr, AllocateBlock(kBlockBytes, kBlockNoClear));
  EXPECT_EQ(nullptr, AllocateBlock(INT_MAX, 0));

  // Exhaustion is no lasting state: a freed block makes room again.
  ASSERT_FALSE(blocks.empty());
  EXPECT_NE(0, FreeBlock(blocks.back()));
  blocks.back() = AllocateBlock(kBlockBytes, 0);
  EXPECT_NE(nullptr, blocks.back());
  for (void* block : blocks) EXPECT_NE(0, FreeBlock(block));

  EXPECT_EQ(bounded, ReplaceMemoryBlockHeap(own));
  HeapDestroy(bounded);
}

// ---------------------------------------------------------------- BlockSize and FreeBlock

TEST(BlockSize, IsTheRequestedSize) {
  EXPECT_EQ(0u, BlockSize(nullptr));
  for (int32_t size : {1, 7, 1024, 4095, 4096, 100000, 2 * 1024 * 1024}) {
    SCOPED_TRACE(size);
    void* block = AllocateBlock(size, kBlockNoClear);
    ASSERT_NE(nullptr, block);
    EXPECT_EQ(size_t(size), BlockSize(block));
    FreeBlock(block);
  }
}

TEST(FreeBlock, ReturnsTheBlockToItsHeap) {
  HANDLE heap = BlockHeap();
  ASSERT_NE(nullptr, heap);
  size_t inUse = HeapBytesInUse(heap);
  void* block = AllocateBlock(1024, 0);
  EXPECT_TRUE(HeapHolds(heap, block));
  EXPECT_EQ(inUse + 1024, HeapBytesInUse(heap));
  EXPECT_NE(0, FreeBlock(block));
  EXPECT_FALSE(HeapHolds(heap, block));
  EXPECT_EQ(inUse, HeapBytesInUse(heap));
}

TEST(FreeBlock, NullIsPassedToThePlatformWhichAcceptsIt) {
  HANDLE heap = BlockHeap();
  ASSERT_NE(nullptr, heap);
  size_t inUse = HeapBytesInUse(heap);
  EXPECT_NE(0, FreeBlock(nullptr));
  EXPECT_EQ(inUse, HeapBytesInUse(heap));
}

// ---------------------------------------------------------------- Start and end

// Without its heap the library stays harmless: nothing is allocated, sized or
// freed, and no heap call is made on a null heap.
TEST(MemoryBlocks, EndDestroysTheHeapAndLeavesTheOperationsHarmless) {
  void* leftOver = AllocateBlock(64, 0);
  ASSERT_NE(nullptr, leftOver);
  HANDLE heap = HeapOf(leftOver);
  ASSERT_NE(nullptr, heap);

  EndMemoryBlocks();
  EXPECT_FALSE(HeapExists(heap));
  EXPECT_EQ(nullptr, AllocateBlock(16, 0));
  EXPECT_EQ(nullptr, AllocateBlock(16, kBlockNoClear));
  EXPECT_EQ(0u, BlockSize(leftOver));
  EXPECT_EQ(0, FreeBlock(leftOver));
  EXPECT_EQ(0, FreeBlock(nullptr));
  EndMemoryBlocks();  // a second end is harmless too

  InitMemoryBlocks();
  void* block = AllocateBlock(16, 0);
  ASSERT_NE(nullptr, block);
  HANDLE fresh = HeapOf(block);
  EXPECT_NE(nullptr, fresh);
  EXPECT_NE(GetProcessHeap(), fresh);
  EXPECT_EQ(16u, BlockSize(block));
  EXPECT_NE(0, FreeBlock(block));
}

// ---------------------------------------------------------------- SleepMilliseconds

TEST(SleepMilliseconds, NegativeTimesReturnAtOnce) {
  // Handed to the platform as a DWORD, -1 would be an endless wait.
  for (int32_t ms : {-1, -10, INT_MIN}) {
    SCOPED_TRACE(ms);
    EXPECT_LT(TimeMilliseconds([ms] { SleepMilliseconds(ms); }), 50.0);
  }
}

TEST(SleepMilliseconds, ZeroYieldsAndReturns) {
  EXPECT_LT(TimeMilliseconds([] { SleepMilliseconds(0); }), 50.0);
}

// Only a generous bound: at the default timer period of about 15.6 ms the
// average would be near 15.6 ms or more.
TEST(SleepMilliseconds, TenMillisecondPausesLastAboutTenMilliseconds) {
  SleepMilliseconds(1);  // the first call sets the timer resolution
  const int calls = 50;
  double total = TimeMilliseconds([] {
    for (int i = 0; i < calls; i++) SleepMilliseconds(10);
  });
  double average = total / calls;
  EXPECT_GE(average, 5.0);
  EXPECT_LT(average, 16.0);
}

// ---------------------------------------------------------------- Pause marks

namespace {
double SinceMilliseconds(const LARGE_INTEGER& start) {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return Milliseconds(start, now);
}
}  // namespace

TEST(PauseMarks, NoPauseEndsBeforeItsMarkAndNoneAddsUp) {
  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  PauseMarks marks;
  StartPauseMarks(&marks, 10);
  double early = 0;
  for (int mark = 1; mark <= 20; mark++) {
    SleepUntilNextMark(&marks);
    double elapsed = SinceMilliseconds(start);
    if (elapsed < mark * 10.0 && mark * 10.0 - elapsed > early) early = mark * 10.0 - elapsed;
  }
  double total = SinceMilliseconds(start);
  EXPECT_EQ(0.0, early) << "a pause ended before its mark";
  // Twenty separate 10 ms sleeps would add up every overrun.
  EXPECT_GE(total, 200.0);
  EXPECT_LT(total, 230.0);
}

TEST(PauseMarks, AnOverrunIsTakenOffTheFollowingPauses) {
  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  PauseMarks marks;
  StartPauseMarks(&marks, 10);
  Sleep(25);  // work between two polls that overran the first two marks
  SleepUntilNextMark(&marks);
  SleepUntilNextMark(&marks);
  double afterMissedMarks = SinceMilliseconds(start);
  SleepUntilNextMark(&marks);
  double afterThirdMark = SinceMilliseconds(start);
  EXPECT_LT(afterMissedMarks, 30.0) << "passed marks cost no further pause";
  EXPECT_GE(afterThirdMark, 30.0);
  EXPECT_LT(afterThirdMark, 45.0);
}
