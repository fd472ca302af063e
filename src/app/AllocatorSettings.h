#pragma once

#include <malloc.h>

namespace quenlit::app {

// The launcher builds its rows anew on every keystroke: a few megabytes allocated and freed again
// each time. glibc would give the freed top of the heap back to the system after every keystroke
// and take it again on the next (a page fault per page, most of the cost of a long row list), so
// freed memory is kept for reuse instead.
inline void applyAllocatorSettings() {
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
    mallopt(M_MMAP_THRESHOLD, 16 << 20);
}

}  // namespace quenlit::app
