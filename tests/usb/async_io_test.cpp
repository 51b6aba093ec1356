// Asynchronous exchanges as a host sees them: what send_command refuses, what the callback gets,
// failures, time-outs and registration.
#include "support/sim_fixture.h"
#include "usb/registry.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

using kv4test::layout;
using Bytes = std::vector<uint8_t>;
using clock_type = std::chrono::steady_clock;

struct completion {
    uint16_t port;
    Bytes data;
    int16_t result;
    int16_t tag;
    uint32_t state_inside; // the port's I/O state seen from inside the callback
    clock_type::time_point at;
};

// Every completion, in order; tests wait for a count with a generous bound.
struct completions {
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<completion> seen;

    static void record(uint16_t port, const uint8_t *data, uint16_t length, int16_t result, int16_t tag);
    bool wait_for(std::size_t count, std::chrono::milliseconds bound = std::chrono::seconds(20))
    {
        std::unique_lock<std::mutex> lock(mutex);
        return arrived.wait_for(lock, bound, [&] { return seen.size() >= count; });
    }
} collected;

void completions::record(uint16_t port, const uint8_t *data, uint16_t length, int16_t result, int16_t tag)
{
    const kv4::win32_device *device = kv4::tkusb_platform_get_device(port);
    const uint32_t state = device ? device->io_state.load() : 0xFF;
    std::lock_guard<std::mutex> guard(collected.mutex);
    collected.seen.push_back(
        {port, data ? Bytes(data, data + length) : Bytes(), result, tag, state, clock_type::now()});
    collected.arrived.notify_all();
}

class AsyncIo : public kv4test::SimTest {
  protected:
    void SetUp() override
    {
        SimTest::SetUp();
        collected.seen.clear();
        open_port(layout({20, 60, 500}, {20, 60, 500}));
    }
    void TearDown() override
    {
        tkcmdsetUSB_unregister_asyncio();
        SimTest::TearDown();
    }
    static int16_t send(Bytes command, uint16_t tag = 7, uint16_t port = 0)
    {
        return tkcmdsetUSB_send_command(port, command.data(), static_cast<uint16_t>(command.size()), 0, tag);
    }
};

TEST_F(AsyncIo, TheCallbackGetsTheAnswerInTheReportTheCommandChoseWithItsTag)
{
    ASSERT_EQ(tkcmdsetUSB_register_asyncio(completions::record, 1000), 0);
    // 3 bytes go in the 20-byte report (ID 1) and 19 bytes come back; 25 bytes take the 60-byte
    // report (ID 2) and 59 come back; the 500-byte report gives the first 128.
    const Bytes sizes[] = {Bytes(3, 0), Bytes(25, 0), Bytes(61, 0)};
    const std::size_t answered[] = {19, 59, 128};
    for (int i = 0; i < 3; ++i) {
        Bytes command = sizes[i];
        command[0] = 10; // echo: status 1, then the command's bytes after the code
        command[1] = static_cast<uint8_t>(0xA0 + i);
        ASSERT_EQ(send(command, static_cast<uint16_t>(0xFFF0 + i)), 0);
        ASSERT_TRUE(collected.wait_for(i + 1u));
        const completion &got = collected.seen[i];
        EXPECT_EQ(got.port, 0);
        EXPECT_EQ(got.result, 0);
        EXPECT_EQ(got.tag, static_cast<int16_t>(0xFFF0 + i));
        EXPECT_EQ(got.state_inside, 0u) << "the port must be idle inside the callback";
        ASSERT_EQ(got.data.size(), answered[i]);
        EXPECT_EQ(got.data[0], 1);
        EXPECT_EQ(got.data[1], 0xA0 + i);
        const std::vector<Bytes> written = reports(monitor, KV4SIM_WIRE_OUTPUT);
        ASSERT_EQ(written.size(), i + 1u);
        EXPECT_EQ(written.back()[0], i + 1); // the report ID on the wire
        EXPECT_EQ(written.back().size(), 501u);
        // ID i + 1 names no output report, so the monitor takes the whole 500 bytes for the frame
        // and echoes them in its largest input report.
        EXPECT_EQ(reports(monitor, KV4SIM_WIRE_INPUT).back()[0], 3);
    }
}

TEST_F(AsyncIo, AnExchangeAndATransactionRefuseEachOther)
{
    ASSERT_EQ(tkcmdsetUSB_register_asyncio(completions::record, 1000), 0);
    kv4sim_monitor *second = attach_serial("SECOND");
    ASSERT_EQ(find().size(), 2u);
    kv4sim_set_latency_us(monitor, 200000, 0);
    ASSERT_EQ(send({12}), 0);
    EXPECT_EQ(send({12}), TKUSB_ASYNC_INPROGRESS_ERR);
    EXPECT_EQ(status_command(), TKUSB_ASYNC_INPROGRESS_ERR);
    EXPECT_EQ(send({12}, 8, 1), 0); // another port is free
    ASSERT_TRUE(collected.wait_for(2));
    for (const completion &got : collected.seen)
        EXPECT_EQ(got.result, 0);

    // The other way round: a transaction waiting for its answer holds the port.
    kv4sim_set_latency_us(second, 300000, 0);
    kv4sim_wire_clear(second);
    std::thread host([] { EXPECT_EQ(status_on(1), 0); });
    kv4test::eventually([&] { return kv4sim_wire_count(second) != 0; });
    EXPECT_EQ(send({12}, 9, 1), TKUSB_ASYNC_INPROGRESS_ERR);
    host.join();
}

// A refused start closes the port at once, though the system's status of the record says pending
// for good: nothing waits for the record or parks it, and another port's exchange under way meanwhile
// is served as ever.
TEST_F(AsyncIo, RefusedTransfersCloseThePortAndSilenceEndsInOneTimeout)
{
    ASSERT_EQ(tkcmdsetUSB_register_asyncio(completions::record, 200), 0);
    kv4sim_set_latency_us(attach_serial("HEALTHY"), 20000, 0);
    ASSERT_EQ(find().size(), 2u);
    const std::pair<int, int16_t> refusals[] = {{KV4SIM_FAULT_REFUSE_WRITE, TKUSB_WRITE_FAILED_ERR},
                                                {KV4SIM_FAULT_REFUSE_READ, TKUSB_READ_FAILED_ERR}};
    for (const auto &[fault, code] : refusals) {
        kv4sim_set_fault(monitor, fault, 1);
        ASSERT_EQ(tkcmdsetUSB_reset_port(0), 0);
        const std::size_t before = collected.seen.size();
        ASSERT_EQ(send({12}, 1, 1), 0);
        ASSERT_EQ(send({12}, 2, 0), 0);
        ASSERT_TRUE(collected.wait_for(before + 2));
        for (std::size_t i = before; i < before + 2; ++i) {
            const completion &got = collected.seen[i];
            EXPECT_EQ(got.result, got.port == 0 ? code : 0) << got.port;
            EXPECT_EQ(got.data.empty(), got.port == 0);
        }
        EXPECT_EQ(send({12}), TKUSB_DEVICE_CLOSED_ERR);
        kv4sim_set_fault(monitor, fault, 0);
    }
    EXPECT_EQ(debug.count(kv4test::parked_line), 0u);

    kv4sim_set_fault(monitor, KV4SIM_FAULT_NO_ANSWER, 1);
    ASSERT_EQ(tkcmdsetUSB_reset_port(0), 0);
    const auto sent = clock_type::now();
    ASSERT_EQ(send({12}, 3), 0);
    ASSERT_TRUE(collected.wait_for(5));
    EXPECT_EQ(collected.seen[4].result, TKUSB_READ_TIMEOUT_ERR);
    EXPECT_GE(collected.seen[4].at - sent, std::chrono::milliseconds(200));
    kv4::sleep_ms(300); // nothing more comes for it
    EXPECT_EQ(collected.seen.size(), 5u);
    kv4sim_set_fault(monitor, KV4SIM_FAULT_NO_ANSWER, 0);
    ASSERT_EQ(send({12}, 4), 0); // the port is usable again
    ASSERT_TRUE(collected.wait_for(6));
    EXPECT_EQ(collected.seen[5].result, 0);
}

// The close comes from the monitor's responder, that is while the I/O thread is inside the write's
// start: the write begins after the close cancelled what was pending, and would otherwise hold the
// exchange until its time-out.
TEST_F(AsyncIo, APortClosedWhileItsWriteStartsEndsTheExchangeAtOnce)
{
    ASSERT_EQ(tkcmdsetUSB_register_asyncio(completions::record, 200), 0);
    kv4sim_set_latency_us(monitor, 60000000, 0);
    const kv4sim_responder closing = [](void *, const uint8_t *, size_t, uint8_t *, size_t) -> size_t {
        tkcmdsetUSB_shutdown(0);
        return 0;
    };
    kv4sim_set_responder(monitor, closing, nullptr);
    ASSERT_EQ(send({0x77}), 0);
    ASSERT_TRUE(collected.wait_for(1));
    EXPECT_EQ(collected.seen[0].result, TKUSB_DEVICE_CLOSED_ERR);
}

TEST_F(AsyncIo, RegistrationIsOnceAtATimeAndSendCommandChecksItBeforeThePort)
{
    EXPECT_EQ(tkcmdsetUSB_register_asyncio(nullptr, 1000), TKUSB_INVALID_PARAMETER);
    EXPECT_EQ(tkcmdsetUSB_unregister_asyncio(), TKUSB_EVENT_REGISTER_ERR);
    EXPECT_EQ(send({10}), TKUSB_ASYNC_UNREGISTERED);
    EXPECT_EQ(send({10}, 1, 5), TKUSB_INVALID_PORT_ERR);
    // Each callback queues the next exchange on its port, as a polling host does.
    static std::atomic<int> resent{1};
    const tkusb_asyncio_callback polling = [](uint16_t port, const uint8_t *data, uint16_t length, int16_t result,
                                              int16_t tag) {
        completions::record(port, data, length, result, tag);
        resent = send({12}, 6, port);
    };
    ASSERT_EQ(tkcmdsetUSB_register_asyncio(polling, 1000), 0);
    EXPECT_EQ(tkcmdsetUSB_register_asyncio(completions::record, 1000), TKUSB_EVENT_REGISTER_ERR);
    EXPECT_EQ(tkcmdsetUSB_send_command(0, nullptr, 3, 0, 1), TKUSB_INVALID_PARAMETER);
    EXPECT_EQ(send(Bytes(501, 10)), TKUSB_TOOLONG_REPORT_ERR);
    EXPECT_EQ(kv4sim_wire_count(monitor), 0u);
    // An exchange under way when the thread stops still ends, once, and queues nothing more.
    kv4sim_set_fault(monitor, KV4SIM_FAULT_NO_ANSWER, 1);
    ASSERT_EQ(send({12}, 5), 0);
    EXPECT_EQ(tkcmdsetUSB_unregister_asyncio(), 0);
    ASSERT_EQ(collected.seen.size(), 1u);
    EXPECT_EQ(collected.seen[0].result, TKUSB_ASYNC_UNREGISTERED);
    EXPECT_EQ(resent.load(), TKUSB_ASYNC_UNREGISTERED);
    EXPECT_EQ(tkcmdsetUSB_unregister_asyncio(), TKUSB_EVENT_REGISTER_ERR);
    EXPECT_EQ(send({12}), TKUSB_ASYNC_UNREGISTERED);
    kv4sim_set_fault(monitor, KV4SIM_FAULT_NO_ANSWER, 0);
    EXPECT_EQ(status_command(), 0); // the port is idle again

    // A callback that unregisters waits for its own thread in vain; while the callback runs on, a
    // new registration is refused (there would be two threads). The thread ends after it; the
    // exchange under way on the other port ends without a callback, as none is registered, and
    // leaves its port idle.
    static std::atomic<int> from_callback{1}, owed{1};
    static std::atomic<bool> host_tried{false};
    kv4sim_set_fault(attach_serial("SILENT"), KV4SIM_FAULT_NO_ANSWER, 1);
    ASSERT_EQ(find().size(), 2u);
    ASSERT_EQ(tkcmdsetUSB_register_asyncio(
                  [](uint16_t port, const uint8_t *, uint16_t, int16_t result, int16_t) {
                      if (port != 0) {
                          owed = result;
                          return;
                      }
                      from_callback = tkcmdsetUSB_unregister_asyncio();
                      kv4test::eventually([] { return host_tried.load(); });
                  },
                  500),
              0);
    ASSERT_EQ(send({12}, 1, 1), 0);
    ASSERT_EQ(send({12}), 0);
    kv4test::eventually([] { return from_callback != 1; });
    EXPECT_EQ(from_callback.load(), TKUSB_EVENT_TIMEOUT_ERR);
    EXPECT_EQ(tkcmdsetUSB_register_asyncio(completions::record, 1000), TKUSB_EVENT_REGISTER_ERR);
    host_tried = true;
    EXPECT_TRUE(kv4test::eventually([] { return tkcmdsetUSB_register_asyncio(completions::record, 1000) == 0; }));
    EXPECT_EQ(owed.load(), 1);
    EXPECT_EQ(send({12}, 2, 1), 0); // port 1 is idle again
    EXPECT_EQ(tkcmdsetUSB_shutdown(0), 0);
    EXPECT_EQ(send({10}), TKUSB_DEVICE_CLOSED_ERR);
    tkcmdsetUSB_shutdown_all();
    EXPECT_EQ(send({10}), TKUSB_NO_PORT_INIT_ERR);
}

} // namespace
