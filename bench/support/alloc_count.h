// Heap allocations made by this process, counted by replacing malloc,
// calloc, realloc and the operator new family (which then count twice:
// once as new, once as the malloc beneath it). Counting is always on and
// costs one relaxed increment per allocation.
#ifndef BENCH_ALLOC_COUNT_H
#define BENCH_ALLOC_COUNT_H

namespace alloc_count {

// Every malloc, calloc and realloc, whichever path reached it.
unsigned long mallocs();
// Every operator new and new[] (plain and nothrow).
unsigned long news();

} // namespace alloc_count

#endif
