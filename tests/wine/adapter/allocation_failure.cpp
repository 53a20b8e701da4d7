// The test program's own operator new, which fails once on request, for the
// tests of what an adapter does when memory runs out. Kept in its own file so
// that no caller sees the allocation and the release paired inline.
#include <atomic>
#include <cstdlib>
#include <new>

#include "wine_test_support.h"

namespace {
std::atomic<int> allocationsBeforeFailure{-1};
}  // namespace

void zrt::wine_test::FailAllocationAfter(int count) { allocationsBeforeFailure = count; }

void* operator new(std::size_t size) {
  if (allocationsBeforeFailure.load() >= 0 && allocationsBeforeFailure.fetch_sub(1) == 0) {
    throw std::bad_alloc();
  }
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
