// The replaceable allocation functions of the test program, on malloc and free. In a file of their
// own, so that the compiler never sees a delete's free() beside the new that it cannot see into.
#include "support/failing_allocations.h"

#include <cstdlib>
#include <new>

namespace {
thread_local bool allocations_fail = false;
}

kv4test::out_of_memory_scope::out_of_memory_scope() { allocations_fail = true; }
kv4test::out_of_memory_scope::~out_of_memory_scope() { allocations_fail = false; }

void *operator new(std::size_t size)
{
    void *memory = allocations_fail ? nullptr : std::malloc(size ? size : 1);
    if (!memory)
        throw std::bad_alloc();
    return memory;
}
void *operator new[](std::size_t size) { return operator new(size); }
void *operator new(std::size_t size, const std::nothrow_t &) noexcept
{
    return allocations_fail ? nullptr : std::malloc(size ? size : 1);
}
void *operator new[](std::size_t size, const std::nothrow_t &tag) noexcept { return operator new(size, tag); }
void operator delete(void *memory) noexcept { std::free(memory); }
void operator delete[](void *memory) noexcept { std::free(memory); }
void operator delete(void *memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void *memory, std::size_t) noexcept { std::free(memory); }
