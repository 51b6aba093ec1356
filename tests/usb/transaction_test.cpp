// The synchronous transaction on the wire: report choice, response limits, time-outs, failures
// that close the port, and closes from other threads.
#include "api/port_operations.h"
#include "usb/feature.h"
#include "support/sim_fixture.h"
#include "usb/registry.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

namespace {

using kv4test::layout;
using kv4test::SimTest;
using Bytes = std::vector<uint8_t>;

// Answers every frame the monitor does not know with the bytes a test puts here, and keeps the
// length of the last frame.
struct scripted_answer {
    Bytes answer;
    size_t frame_length = 0;
    static size_t respond(void *context, const uint8_t *, size_t length, uint8_t *out, size_t capacity)
    {
        auto *self = static_cast<scripted_answer *>(context);
        self->frame_length = length;
        const size_t n = std::min(capacity, self->answer.size());
        std::memcpy(out, self->answer.data(), n);
        return n;
    }
};

class Transaction : public SimTest {
  protected:
    // A monitor with input and output reports of 20 and 60 bytes (IDs 1, 2 in, 3, 4 out).
    void SetUp() override
    {
        SimTest::SetUp();
        open_port(layout({20, 60}, {20, 60}));
        kv4sim_set_responder(monitor, &scripted_answer::respond, &script);
    }
    // do_command asking for length bytes back; delivered is what it reports delivered.
    int16_t run(Bytes command, uint16_t length = 10, uint16_t timeout = 1000)
    {
        response.assign(512, 0xEE);
        delivered = length;
        return tkcmdsetUSB_do_command(0, command.data(), static_cast<uint16_t>(command.size()), response.data(),
                                      &delivered, timeout);
    }
    scripted_answer script;
    Bytes response;
    uint16_t delivered = 0;
};

TEST_F(Transaction, TheInputReportIsTheSmallestThatHoldsTheResponse)
{
    script.answer = Bytes(59, 0x11);
    script.answer[0] = 1;
    // A 20-byte report carries at most 19 bytes to the host.
    for (const auto &[asked, got] : {std::pair<uint16_t, uint16_t>{20, 19}, {19, 19}, {21, 21}}) {
        EXPECT_EQ(run({0x77}, asked), 0);
        EXPECT_EQ(delivered, got) << asked;
    }
    EXPECT_EQ(response[20], 0x11);
    EXPECT_EQ(response[21], 0xEE); // nothing past the delivered length
    kv4sim_wire_clear(monitor);
    EXPECT_EQ(run({0x77}, 61), TKUSB_TOOLONG_REPORT_ERR);
    EXPECT_EQ(kv4sim_wire_count(monitor), 0u);
    // A monitor whose firmware answers the service commands too: the status is the script's.
    kv4sim_set_fault(monitor, KV4SIM_FAULT_ANSWER_ALL, 1);
    uint32_t status = 0;
    EXPECT_EQ(tkcmdsetUSB_status(0, &status), 0);
    EXPECT_EQ(status, 0x01111111u); // the answer's first four bytes, its status byte first
}

// In response mode the command length did not choose the report, so it is checked on its own.
TEST_F(Transaction, TheOutputReportFollowsTheBufferModeAndTheCommandMustFitATransfer)
{
    script.answer = {1};
    EXPECT_EQ(run(Bytes(61, 0x77)), TKUSB_TOOLONG_REPORT_ERR); // refused before any copy
    EXPECT_EQ(kv4sim_wire_count(monitor), 0u);
    EXPECT_EQ(run(Bytes(60, 0x77)), 0); // the largest that fits
    kv4sim_wire_clear(monitor);
    ASSERT_EQ(run({0x77, 0xA1, 0xA2}, 50), 0);
    ASSERT_EQ(kv4::port_set_buffer_mode(0, TKUSB_BUFFER_MODE_COMMAND), 0);
    ASSERT_EQ(run({0x77, 0xB1, 0xB2}, 50), 0);
    const std::vector<Bytes> sent = reports(monitor, KV4SIM_WIRE_OUTPUT);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].size(), 61u);                            // every transfer is 1 + the largest report
    EXPECT_EQ(head(sent[0], 4), (Bytes{4, 0x77, 0xA1, 0xA2})); // 60 bytes: chosen by the response length
    EXPECT_EQ(head(sent[1], 4), (Bytes{3, 0x77, 0xB1, 0xB2})); // 20 bytes: chosen by the command length
    EXPECT_EQ(script.frame_length, 20u); // the monitor gets that report's payload, not the whole transfer
    EXPECT_EQ(reports(monitor, KV4SIM_WIRE_INPUT).size(), 2u); // and the wire log shows both answers
}

TEST_F(Transaction, TimeOutsCancelButLeaveThePortUsableAndAnUnplugClosesIt)
{
    script.answer = {1, 2, 3};
    kv4sim_set_fault(monitor, KV4SIM_FAULT_NO_ANSWER, 1);
    EXPECT_EQ(run({0x77}, 10, 30), TKUSB_READ_TIMEOUT_ERR);
    EXPECT_EQ(run({0x77}, 10, 0), TKUSB_READ_TIMEOUT_ERR);
    EXPECT_EQ(response[1], 0xEE); // left as it was (byte 0 is cleared before every command)
    kv4sim_set_fault(monitor, KV4SIM_FAULT_NO_ANSWER, 0);
    // A read with timeout 0 succeeds when the answer is there at once.
    EXPECT_EQ(run({0x77}, 10, 0), 0);
    kv4sim_set_latency_us(monitor, 3000000, 0);
    EXPECT_EQ(run({0x77}, 10, 50), TKUSB_WRITE_TIMEOUT_ERR);
    kv4sim_set_latency_us(monitor, 0, 0);
    EXPECT_EQ(run({0x77}), 0); // a closed port would answer TKUSB_DEVICE_CLOSED_ERR
    // A write is given 20 ms even under a shorter timeout: one that takes 2 ms goes through, and
    // the answer, there by then, is read with the timeout of 0.
    kv4sim_set_latency_us(monitor, 2000, 0);
    EXPECT_EQ(run({0x77}, 10, 0), 0);

    // A monitor unplugged while the write is under way closes the port, and so does one pulled
    // before the next command, whose write is refused at once; neither leaves a record to wait
    // for. (Other refusals are the device information tests' table.)
    kv4sim_set_latency_us(monitor, 20000, 0);
    kv4sim_set_fault(monitor, KV4SIM_FAULT_UNPLUG_ON_WRITE, 1);
    EXPECT_EQ(run({0x77}), TKUSB_WRITE_FAILED_ERR);
    EXPECT_EQ(run({0x77}), TKUSB_DEVICE_CLOSED_ERR);
    ASSERT_EQ(kv4sim_reattach(monitor, 0), 0);
    ASSERT_EQ(tkcmdsetUSB_reset_port(0), 0);
    ASSERT_EQ(kv4sim_detach(monitor), 0);
    EXPECT_EQ(run({0x77}), TKUSB_WRITE_FAILED_ERR);
    EXPECT_EQ(debug.count(kv4test::parked_line), 0u);
}

// A host holding the library lock still runs commands on its own thread. Feature reports and
// string queries share the transfer buffer and must not run beside an exchange either.
TEST_F(Transaction, APortBusyWithAnAsynchronousExchangeSendsNothing)
{
    kv4::win32_device *device = kv4::tkusb_platform_get_device(0);
    device->io_state = kv4::TKUSB_IO_WRITING;
    EXPECT_EQ(run({0x77}), TKUSB_ASYNC_INPROGRESS_ERR);
    EXPECT_EQ(tkcmdsetUSB_set_feature(0, 0x1234, 0), TKUSB_ASYNC_INPROGRESS_ERR);
    char text[32];
    EXPECT_EQ(kv4::fetch_device_string(device, 4, text, sizeof text), TKUSB_ASYNC_INPROGRESS_ERR);
    EXPECT_EQ(kv4sim_wire_count(monitor), 0u);
    device->io_state = kv4::TKUSB_IO_IDLE;
    EXPECT_EQ(kv4::fetch_device_string(device, 4, text, sizeof text), 0);
    EXPECT_STREQ(text, "SIM-FW 1.00");
    script.answer = {1};
    ASSERT_EQ(tkcmdsetUSB_lock(), 0);
    EXPECT_EQ(run({0x77}), 0);
    ASSERT_EQ(tkcmdsetUSB_unlock(), 0);
}

TEST_F(Transaction, InputQueuedBeforeACommandIsNotTakenForItsAnswer)
{
    const uint8_t stale[] = {1, 0xAB, 0xCD};
    ASSERT_EQ(kv4sim_queue_input(monitor, stale, sizeof stale), 0);
    script.answer = {1, 0x55};
    EXPECT_EQ(run({0x77}, 2), 0);
    EXPECT_EQ(response[1], 0x55);
}

// A cancelled transfer that does not end leaves its record and buffer to the system: the port is
// closed and its memory parked, to be freed once the transfer has ended (ASan sees to that).
TEST_F(Transaction, ACancelThatDoesNotEndClosesThePortAndParksItsBuffers)
{
    kv4sim_set_fault(monitor, KV4SIM_FAULT_NO_ANSWER, 1);
    kv4sim_set_fault(monitor, KV4SIM_FAULT_CANCEL_STUCK, 1);
    EXPECT_EQ(run({0x77}, 10, 30), TKUSB_READ_TIMEOUT_ERR);
    EXPECT_EQ(debug.count("------>USB DLL:**Closed Device Due to Cancel Timeout**"), 1u);
    EXPECT_EQ(debug.count(kv4test::parked_line), 1u);
    EXPECT_EQ(run({0x77}), TKUSB_DEVICE_CLOSED_ERR);
    // The handle was released all the same. The parked transfer ends while the next write waits,
    // and signals the device's event, which is not taken for that write's end.
    ASSERT_EQ(tkcmdsetUSB_reset_port(0), 0);
    kv4sim_set_fault(monitor, KV4SIM_FAULT_NO_ANSWER, 0);
    kv4sim_set_latency_us(monitor, 50000, 0);
    kv4sim_set_responder(
        monitor,
        [](void *stuck, const uint8_t *, size_t, uint8_t *answer, size_t) {
            kv4sim_set_fault(static_cast<kv4sim_monitor *>(stuck), KV4SIM_FAULT_CANCEL_STUCK, 0);
            answer[0] = 1;
            answer[1] = 0x42;
            return size_t{2};
        },
        monitor);
    EXPECT_EQ(run({0x77}), 0);
    EXPECT_EQ(response[1], 0x42);
}

// A half-minute transaction on another thread; ended() waits for its result a bounded time.
struct waiting_command {
    waiting_command() : host([this] { result = kv4test::transact(0, 0x77, 30000); }) {}
    ~waiting_command() { host.join(); }
    bool ended() { return kv4test::eventually([this] { return result.load() != 1; }); }
    std::atomic<int> result{1};
    std::thread host;
};

TEST_F(Transaction, AShutdownOnAnotherThreadEndsAWaitingTransaction)
{
    kv4sim_set_fault(monitor, KV4SIM_FAULT_NO_ANSWER, 1);
    kv4sim_wire_clear(monitor);
    {
        waiting_command command;
        // Wait until the command is on the wire, then close the port under the transaction.
        kv4test::eventually([&] { return kv4sim_wire_count(monitor) != 0; });
        ASSERT_EQ(kv4sim_wire_count(monitor), 1u);
        std::thread closer([] { EXPECT_EQ(tkcmdsetUSB_shutdown(0), 0); });
        EXPECT_TRUE(command.ended()) << "the close did not wake the transaction";
        closer.join();
        EXPECT_EQ(command.result.load(), TKUSB_DEVICE_CLOSED_ERR);
    }
    // Closed between the write and the read: the read must not wait out its time-out. The device
    // is closed directly: a responder runs inside the transaction, under the device lock, where the
    // port lookup of tkcmdsetUSB_shutdown would take the locks in reverse order.
    // A command that waits for the port meanwhile finds it closed too.
    kv4sim_set_fault(monitor, KV4SIM_FAULT_NO_ANSWER, 0);
    ASSERT_EQ(tkcmdsetUSB_reset_port(0), 0);
    static std::atomic<bool> go{false};
    kv4sim_set_responder(
        monitor,
        [](void *device, const uint8_t *, size_t, uint8_t *, size_t) {
            while (!go)
                std::this_thread::yield();
            return size_t{static_cast<kv4::win32_device *>(device)->close() != 0};
        },
        kv4::tkusb_platform_get_device(0));
    waiting_command command, queued;
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // only makes it likely that one waits
    go = true;
    ASSERT_TRUE(command.ended() && queued.ended()) << "a close during the write left a command waiting";
    EXPECT_EQ(command.result.load(), TKUSB_DEVICE_CLOSED_ERR);
    EXPECT_EQ(queued.result.load(), TKUSB_DEVICE_CLOSED_ERR);
}

} // namespace
