/* Put ahead of every mimalloc source in the native sanitizer build.
 *
 * mimalloc's AddressSanitizer support leaves a whole block open after an
 * allocation, so a string that runs a few bytes past its 2n + 6 would go
 * unnoticed in the block's rounding slack. Poisoning the slack, as its Valgrind
 * support already does with a red zone, makes every allocation byte-precise.
 * mimalloc reads its own block words only through its tracking calls, which
 * open them first. */
#ifndef TELDIAL_MIMALLOC_ASAN_PRECISE_H
#define TELDIAL_MIMALLOC_ASAN_PRECISE_H

#include "mimalloc.h"
#include "mimalloc-track.h"

#if MI_ASAN
static inline void teldial_track_malloc(void* p, size_t size) {
  if (p == NULL) return;
  size_t usable = mi_usable_size(p);
  ASAN_UNPOISON_MEMORY_REGION(p, size);
  if (usable > size) ASAN_POISON_MEMORY_REGION((unsigned char*)p + size, usable - size);
}
#undef mi_track_malloc
#define mi_track_malloc(p, size, zero) teldial_track_malloc((p), (size))

/* When mimalloc sets up a segment, it opens the segment's info slices giving
 * their count of commit units where the call takes bytes: only the first byte
 * or two were opened. Memory the OS maps again keeps the poison of what was
 * there before, so writing the header of a segment that reuses the addresses
 * of a freed huge string was reported. That call is the only one made with a
 * segment-aligned address; blocks never start a segment. */
#undef mi_track_mem_undefined
#define mi_track_mem_undefined(p, size) \
  ASAN_UNPOISON_MEMORY_REGION((p), (uintptr_t)(p) % MI_SEGMENT_SIZE == 0 ? (size) * MI_COMMIT_SIZE : (size))
#endif

#endif
