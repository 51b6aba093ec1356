// Replaces the global allocation functions with counting ones. malloc is interposed through
// glibc's own entry points, so that allocations in C code are counted too.
#include "allocation_counter.h"

#include <atomic>
#include <cstdlib>
#include <new>

extern "C" void *__libc_malloc(std::size_t size);
extern "C" void *__libc_calloc(std::size_t count, std::size_t size);
extern "C" void *__libc_realloc(void *pointer, std::size_t size);

namespace {
std::atomic<uint64_t> counted{0};
}

uint64_t kv4bench::allocations() noexcept { return counted.load(std::memory_order_relaxed); }

extern "C" void *malloc(std::size_t size)
{
    counted.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}

extern "C" void *calloc(std::size_t count, std::size_t size)
{
    counted.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}

extern "C" void *realloc(void *pointer, std::size_t size)
{
    counted.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(pointer, size);
}

// operator new goes through malloc above, so it is counted once.
void *operator new(std::size_t size)
{
    if (void *memory = std::malloc(size ? size : 1))
        return memory;
    throw std::bad_alloc();
}
void *operator new[](std::size_t size) { return operator new(size); }
void *operator new(std::size_t size, const std::nothrow_t &) noexcept { return std::malloc(size ? size : 1); }
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept { return std::malloc(size ? size : 1); }
void operator delete(void *memory) noexcept { std::free(memory); }
void operator delete[](void *memory) noexcept { std::free(memory); }
void operator delete(void *memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void *memory, std::size_t) noexcept { std::free(memory); }
