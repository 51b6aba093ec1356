// Transfers on the simulated bus keep what the core relies on: one whole report each way, events
// reset at the start and signalled at completion, flush, cancel, and failures on removal.
#include "sim/sim_handles.h"

#include <atomic>
#include <thread>

namespace {

using kv4::hid_io;
using kv4test::Bytes;

constexpr uint16_t transfer_length = 501; // the default layout's largest report plus its ID

class SimTransfer : public kv4test::SimBus {
  protected:
    void SetUp() override
    {
        SimBus::SetUp();
        m = kv4sim_attach(nullptr);
        h = open(m);
        ASSERT_NE(h, nullptr);
    }
    void TearDown() override
    {
        if (h)
            hid.close(h);
        SimBus::TearDown();
    }
    // An output report: report ID, then the frame, then zeros up to the transfer length.
    static Bytes report(uint8_t id, Bytes frame)
    {
        frame.insert(frame.begin(), id);
        frame.resize(transfer_length);
        return frame;
    }
    hid_io write(const Bytes &bytes, kv4::hid_transfer *t)
    {
        return hid.start_write(h, bytes.data(), static_cast<uint16_t>(bytes.size()), t);
    }
    hid_io read(kv4::hid_transfer *t) { return hid.start_read(h, in.data(), transfer_length, t); }

    kv4sim_monitor *m = nullptr;
    kv4::hid_handle h = nullptr;
    Bytes in = Bytes(transfer_length, 0xEE);
};

TEST_F(SimTransfer, AWriteCarriesOneWholeReportAndTheAnswerComesInTheSmallestInputReportThatHoldsIt)
{
    kv4::hid_transfer *t = transfer();
    const Bytes echo = report(1, {10, 'a', 'b', 'c'}); // the 20-byte output report
    ASSERT_EQ(write(echo, t), hid_io::completed);
    EXPECT_TRUE(kv4::event_is_set(t->event));
    ASSERT_EQ(read(t), hid_io::completed);
    EXPECT_TRUE(kv4::event_is_set(t->event));
    EXPECT_EQ(hid.outcome(h, t), hid_io::completed);
    Bytes expected = {1, 1, 'a', 'b', 'c'}; // report ID 1, status 1, the echo, zeros to the end
    expected.resize(transfer_length);
    EXPECT_EQ(in, expected);

    ASSERT_EQ(kv4sim_wire_count(m), 2u);
    kv4sim_wire_entry out, answer;
    kv4sim_wire_get(m, 0, &out);
    kv4sim_wire_get(m, 1, &answer);
    EXPECT_EQ(out.kind, KV4SIM_WIRE_OUTPUT);
    EXPECT_EQ(Bytes(out.bytes, out.bytes + out.length), echo);
    EXPECT_EQ(answer.kind, KV4SIM_WIRE_INPUT);
    EXPECT_EQ(Bytes(answer.bytes, answer.bytes + answer.length), Bytes(expected.begin(), expected.begin() + 21));

    // 150 bytes of RAM need the 500-byte report (ID 4); a read gives at most its buffer's length.
    ASSERT_EQ(write(report(1, {0x1F, 0, 0, 0, 0, 0, 150}), t), hid_io::completed);
    in.assign(transfer_length, 0xEE);
    ASSERT_EQ(hid.start_read(h, in.data(), 2, t), hid_io::completed);
    EXPECT_EQ(in[0], 4);
    EXPECT_EQ(in[1], 1);
    EXPECT_EQ(in[2], 0xEE);
}

TEST_F(SimTransfer, WithLatenciesTransfersArePendingUntilTheirEventsAreSignalled)
{
    kv4::hid_transfer *t = transfer();
    kv4sim_set_latency_us(m, 1000, 2000);
    kv4::event_set(t->event);
    ASSERT_EQ(write(report(1, {12}), t), hid_io::pending);
    ASSERT_TRUE(signalled(t));
    EXPECT_EQ(hid.outcome(h, t), hid_io::completed);
    const hid_io started = read(t);
    ASSERT_NE(started, hid_io::failed);
    ASSERT_TRUE(signalled(t));
    EXPECT_EQ(hid.outcome(h, t), hid_io::completed);
    EXPECT_EQ(Bytes(in.begin(), in.begin() + 6), (Bytes{1, 1, 0, 0, 0, 0})); // the status word

    kv4sim_set_latency_us(m, 10000000, 0);
    kv4::event_set(t->event);
    ASSERT_EQ(write(report(1, {12}), t), hid_io::pending);
    EXPECT_FALSE(kv4::event_is_set(t->event)); // reset at the start
    EXPECT_EQ(hid.outcome(h, t), hid_io::pending);
    hid.cancel_io(h);
    EXPECT_TRUE(kv4::event_is_set(t->event));
    EXPECT_EQ(hid.outcome(h, t), hid_io::failed);
}

TEST_F(SimTransfer, FlushDiscardsQueuedInputAndCancelEndsAPendingRead)
{
    kv4::hid_transfer *t = transfer();
    ASSERT_EQ(write(report(1, {12}), t), hid_io::completed);
    ASSERT_EQ(write(report(1, {12}), t), hid_io::completed);
    EXPECT_TRUE(hid.flush_input(h));
    kv4::event_set(t->event);
    ASSERT_EQ(read(t), hid_io::pending);
    EXPECT_FALSE(kv4::event_is_set(t->event));
    hid.cancel_io(h);
    EXPECT_TRUE(kv4::event_is_set(t->event));
    EXPECT_EQ(hid.outcome(h, t), hid_io::failed);

    ASSERT_EQ(read(t), hid_io::pending); // a closing handle cancels its transfers too
    hid.close(h);
    h = nullptr;
    EXPECT_TRUE(kv4::event_is_set(t->event));
}

TEST_F(SimTransfer, ARemovalFailsPendingAndLaterTransfers)
{
    kv4::hid_transfer *t = transfer();
    ASSERT_EQ(read(t), hid_io::pending);
    kv4sim_detach(m);
    EXPECT_TRUE(kv4::event_is_set(t->event));
    EXPECT_EQ(hid.outcome(h, t), hid_io::failed);
    EXPECT_EQ(write(report(1, {12}), t), hid_io::failed);
    EXPECT_EQ(read(t), hid_io::failed);
    EXPECT_FALSE(hid.set_feature(h, in.data(), 33));
}

TEST_F(SimTransfer, AnUnplugOnWriteFailsTheWriteMidTransfer)
{
    kv4::hid_transfer *t = transfer();
    kv4sim_set_fault(m, KV4SIM_FAULT_UNPLUG_ON_WRITE, 1);
    ASSERT_EQ(write(report(1, {12}), t), hid_io::pending);
    EXPECT_TRUE(kv4::event_is_set(t->event));
    EXPECT_EQ(hid.outcome(h, t), hid_io::failed);
    EXPECT_FALSE(hid.check_present(kv4sim_path(m)));
    hid.close(h);
    kv4sim_reattach(m, 0); // the fault was for one write only
    h = open(m);
    EXPECT_EQ(write(report(1, {12}), t), hid_io::completed);
}

TEST_F(SimTransfer, RefusalsAndSilenceAreScriptedPerMonitor)
{
    kv4::hid_transfer *t = transfer();
    const Bytes feature = {5, 1, 2, 3};
    kv4sim_set_fault(m, KV4SIM_FAULT_REFUSE_WRITE, 1);
    EXPECT_EQ(write(report(1, {12}), t), hid_io::failed);
    kv4sim_set_fault(m, KV4SIM_FAULT_REFUSE_WRITE, 0);
    kv4sim_set_fault(m, KV4SIM_FAULT_NO_ANSWER, 1);
    EXPECT_EQ(write(report(1, {12}), t), hid_io::completed);
    EXPECT_EQ(read(t), hid_io::pending);
    hid.cancel_io(h);
    kv4sim_set_fault(m, KV4SIM_FAULT_REFUSE_READ, 1);
    EXPECT_EQ(read(t), hid_io::failed);
    EXPECT_TRUE(hid.set_feature(h, feature.data(), 4));
    kv4sim_set_fault(m, KV4SIM_FAULT_REFUSE_FEATURE, 1);
    EXPECT_FALSE(hid.set_feature(h, feature.data(), 4));

    ASSERT_EQ(kv4sim_wire_count(m), 2u); // the unanswered write and the feature report
    kv4sim_wire_entry entry;
    kv4sim_wire_get(m, 1, &entry);
    EXPECT_EQ(entry.kind, KV4SIM_WIRE_FEATURE);
    EXPECT_EQ(Bytes(entry.bytes, entry.bytes + entry.length), feature);
    kv4sim_wire_clear(m);
    kv4sim_set_wire_log(m, 0);
    write(report(1, {12}), t);
    EXPECT_EQ(kv4sim_wire_count(m), 0u);
}

TEST_F(SimTransfer, AResetEndsTimedWorkAndLeavesHandlesDead)
{
    kv4::hid_transfer *t = transfer();
    kv4sim_set_latency_us(m, 10000000, 0);
    ASSERT_EQ(write(report(1, {12}), t), hid_io::pending);
    kv4sim_reset();
    EXPECT_TRUE(kv4::event_is_set(t->event));
    EXPECT_EQ(hid.outcome(h, t), hid_io::failed);
    EXPECT_EQ(read(t), hid_io::failed);
}

// Exchanges on several monitors at once, with and without latency, while one of them is pulled
// and plugged back in: every transfer ends, and a dead handle only ever fails.
TEST_F(SimTransfer, ConcurrentExchangesAndRemovalsEndEveryTransfer)
{
    std::vector<kv4sim_monitor *> monitors = {m, kv4sim_attach(nullptr), kv4sim_attach(nullptr)};
    hid.close(h);
    h = nullptr;
    std::atomic<int> ended{0};
    auto exchanges = [&](kv4sim_monitor *mon, unsigned latency) {
        kv4sim_set_latency_us(mon, latency, latency);
        kv4sim_set_wire_log(mon, 0);
        kv4::hid_transfer t;
        t.event = kv4::event_create();
        Bytes out = report(1, {12}), buffer(transfer_length);
        for (int i = 0; i < 200; ++i) {
            kv4::hid_handle handle = hid.open(kv4sim_path(mon), kv4::hid_access::transfer, nullptr);
            if (!handle)
                continue; // unplugged just now
            for (int j = 0; j < 5; ++j) {
                if (hid.start_write(handle, out.data(), transfer_length, &t) == hid_io::failed)
                    break;
                EXPECT_EQ(kv4::event_wait(t.event, 5000), 0);
                if (hid.start_read(handle, buffer.data(), transfer_length, &t) == hid_io::failed)
                    break;
                EXPECT_EQ(kv4::event_wait(t.event, 5000), 0);
                ++ended;
            }
            hid.close(handle);
        }
        kv4::event_close(t.event);
    };
    std::thread a(exchanges, monitors[0], 0), b(exchanges, monitors[1], 50), c(exchanges, monitors[2], 0);
    for (int i = 0; i < 200; ++i) {
        kv4sim_detach(monitors[2]);
        kv4sim_reattach(monitors[2], i % 2);
    }
    a.join();
    b.join();
    c.join();
    EXPECT_GE(ended.load(), 2000);
}

} // namespace
