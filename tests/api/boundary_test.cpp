// No C++ exception leaves an exported function: with every allocation of the calling thread
// failing, the library's own allocations throw std::bad_alloc deep inside it, and each export
// still answers with a code, and the library works again once memory is back.
#include "support/sim_fixture.h"

#include <cstdlib>
#include <new>

namespace {

thread_local bool allocations_fail = false;

// The allocations of the calling thread fail while it is in scope.
struct out_of_memory_scope {
    out_of_memory_scope() { allocations_fail = true; }
    ~out_of_memory_scope() { allocations_fail = false; }
    out_of_memory_scope(const out_of_memory_scope &) = delete;
    out_of_memory_scope &operator=(const out_of_memory_scope &) = delete;
};

template <typename Call> auto without_memory(Call call)
{
    out_of_memory_scope scope;
    return call();
}

} // namespace

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

namespace {

using Boundary = kv4test::SimTest;

TEST_F(Boundary, AnExportWhoseAllocationsFailAnswersACodeAndTheLibraryGoesOn)
{
    kv4::set_debug_sink(nullptr, nullptr); // the fixture's sink would store lines in failing memory
    EXPECT_EQ(without_memory([] { return kv4sim_attach(nullptr); }), nullptr);
    kv4sim_monitor *monitor = attach();
    uint16_t ports[255];
    uint8_t count = 0;
    EXPECT_EQ(without_memory([&] { return tkcmdsetUSB_find_devices(kv4test::monitor_filter, &count, ports); }),
              TKUSB_SYSTEM_MEMORY_ERR);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(find(), std::vector<uint16_t>{0});

    // A write that completes late needs the bus's timer thread, which cannot start: the command
    // times out, and its cancel does not end, so the port closes.
    kv4sim_set_latency_us(monitor, 1000, 0);
    const uint8_t status_frame[1] = {12};
    uint8_t response[64];
    uint16_t length = 10;
    EXPECT_EQ(without_memory([&] { return tkcmdsetUSB_do_command(0, status_frame, 1, response, &length, 30); }),
              TKUSB_WRITE_TIMEOUT_ERR);
    EXPECT_EQ(tkcmdsetUSB_reset_port(0), 0);
    EXPECT_EQ(status_command(), 0);
}

} // namespace
