// Allocations that fail on demand: the test program's operator new throws std::bad_alloc, and its
// nothrow forms return null, on a thread while that thread holds an out_of_memory_scope.
#pragma once

namespace kv4test {

class out_of_memory_scope {
  public:
    out_of_memory_scope();
    ~out_of_memory_scope();
    out_of_memory_scope(const out_of_memory_scope &) = delete;
    out_of_memory_scope &operator=(const out_of_memory_scope &) = delete;
};

} // namespace kv4test
