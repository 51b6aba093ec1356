// No C++ exception leaves an exported function: with every allocation of the calling thread
// failing, the library's own allocations throw std::bad_alloc deep inside it, and each export
// still answers with a code, and the library works again once memory is back.
#include "support/failing_allocations.h"
#include "support/sim_fixture.h"

namespace {

template <typename Call> auto without_memory(Call call)
{
    kv4test::out_of_memory_scope scope;
    return call();
}

using Boundary = kv4test::SimTest;

TEST_F(Boundary, AnExportWhoseAllocationsFailAnswersACodeAndTheLibraryGoesOn)
{
    kv4::set_debug_sink(nullptr, nullptr); // the fixture's sink would store lines in failing memory
    EXPECT_EQ(without_memory([] { return kv4sim_attach(nullptr); }), nullptr);
    monitor = attach();
    // The platform lock is made on its first use, which is here in a fresh process (each test, run
    // natively): its allocation fails. Where an earlier test made it (one process under Wine), the
    // probing of the monitor fails instead and finds nothing.
    uint16_t ports[255];
    uint8_t count = 0;
    const int16_t found =
        without_memory([&] { return tkcmdsetUSB_find_devices(kv4test::monitor_filter, &count, ports); });
    EXPECT_TRUE(found == TKUSB_SYSTEM_MEMORY_ERR || found == 0) << found;
    EXPECT_EQ(count, 0);
    EXPECT_EQ(find(), std::vector<uint16_t>{0});
    EXPECT_EQ(without_memory([] {
                  return tkcmdsetUSB_register_asyncio([](uint16_t, const uint8_t *, uint16_t, int16_t, int16_t) {},
                                                      100);
              }),
              TKUSB_ASYNC_REGISTER_ERR);
    EXPECT_EQ(without_memory(
                  [] { return tkcmdsetUSB_register_events2([](uint16_t, int32_t, const char *, const char *) {}); }),
              TKUSB_EVENT_REGISTER_ERR);

    // A write that completes late needs the bus's timer thread, which cannot start: the command
    // times out, and its cancel does not end, so the port closes.
    ASSERT_EQ(kv4sim_set_latency_us(monitor, 1000, 0), 0);
    EXPECT_EQ(without_memory([] { return kv4test::transact(0, 12, 30); }), TKUSB_WRITE_TIMEOUT_ERR);
    EXPECT_EQ(tkcmdsetUSB_reset_port(0), 0);
    EXPECT_EQ(status_command(), 0);
}

} // namespace
