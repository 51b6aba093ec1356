// Transfers on the simulated bus keep what the core relies on: one whole report each way, events
// reset at the start and signalled at completion, flush, cancel, and failures on removal.
#include "sim/sim_handles.h"

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
        t = transfer();
    }
    void TearDown() override
    {
        if (h)
            hid.close(h);
        SimBus::TearDown();
    }
    // The 20-byte output report (ID 1) carrying the frame, then zeros up to the transfer length.
    hid_io write(Bytes frame)
    {
        frame.insert(frame.begin(), 1);
        frame.resize(transfer_length);
        return hid.start_write(h, frame.data(), transfer_length, t);
    }
    hid_io read() { return hid.start_read(h, in.data(), transfer_length, t); }
    bool set() const { return kv4::event_is_set(t->event); }

    kv4sim_monitor *m = nullptr;
    kv4::hid_handle h = nullptr;
    kv4::hid_transfer *t = nullptr;
    Bytes in = Bytes(transfer_length, 0xEE);
};

TEST_F(SimTransfer, AWriteCarriesOneWholeReportAndTheAnswerComesInTheSmallestInputReportThatHoldsIt)
{
    ASSERT_EQ(write({10, 'a', 'b', 'c'}), hid_io::completed);
    EXPECT_TRUE(set());
    ASSERT_EQ(read(), hid_io::completed);
    EXPECT_TRUE(set());
    EXPECT_EQ(hid.outcome(t), hid_io::completed);
    Bytes expected = {1, 1, 'a', 'b', 'c'}; // report ID 1, status 1, the echo, zeros to the end
    expected.resize(transfer_length);
    EXPECT_EQ(in, expected);

    // 150 bytes of RAM need the 500-byte report (ID 4). As on Windows, a read shorter than the
    // largest input report and a write longer than the largest output report are refused.
    ASSERT_EQ(write({0x1F, 0, 0, 0, 0, 0, 150}), hid_io::completed);
    in.assign(transfer_length + 1, 0xEE);
    EXPECT_EQ(hid.start_read(h, in.data(), transfer_length - 1, t), hid_io::failed);
    EXPECT_EQ(hid.start_write(h, in.data(), transfer_length + 1, t), hid_io::failed);
    ASSERT_EQ(read(), hid_io::completed);
    EXPECT_EQ(Bytes(in.begin(), in.begin() + 3), (Bytes{4, 1, 0}));

    // A frame no service command knows goes to the responder, whole; without one it is refused.
    kv4sim_set_wire_log(m, 0);
    write({0xF1, 0x81, 0xF2});
    ASSERT_EQ(read(), hid_io::completed);
    EXPECT_EQ(Bytes(in.begin(), in.begin() + 4), (Bytes{1, 0, 0xFF, 0x5D})); // -163
    std::size_t seen = 0;
    const kv4sim_responder responder = [](void *context, const uint8_t *frame, size_t length, uint8_t *answer, size_t) {
        *static_cast<std::size_t *>(context) = length;
        answer[0] = frame[1];
        return std::size_t{1};
    };
    kv4sim_set_responder(m, responder, &seen);
    write({0xF1, 0x81, 0xF2});
    ASSERT_EQ(read(), hid_io::completed);
    EXPECT_EQ(Bytes(in.begin(), in.begin() + 2), (Bytes{1, 0x81}));
    EXPECT_EQ(seen, 20u); // the output report's whole payload
    EXPECT_EQ(kv4sim_wire_count(m), 4u);
}

TEST_F(SimTransfer, WithLatenciesTransfersArePendingUntilTheirEventsAreSignalled)
{
    kv4sim_set_latency_us(m, 1000, 2000);
    kv4::event_set(t->event);
    ASSERT_EQ(write({12}), hid_io::pending);
    ASSERT_EQ(kv4::event_wait(t->event, 5000), 0);
    EXPECT_EQ(hid.outcome(t), hid_io::completed);
    ASSERT_NE(read(), hid_io::failed);
    ASSERT_EQ(kv4::event_wait(t->event, 5000), 0);
    EXPECT_EQ(hid.outcome(t), hid_io::completed);
    EXPECT_EQ(Bytes(in.begin(), in.begin() + 6), (Bytes{1, 1, 0, 0, 0, 0})); // the status word

    kv4sim_set_latency_us(m, 10000000, 0);
    kv4::event_set(t->event);
    ASSERT_EQ(write({12}), hid_io::pending);
    EXPECT_FALSE(set()); // reset at the start
    EXPECT_EQ(hid.outcome(t), hid_io::pending);
    hid.cancel_io(h);
    EXPECT_EQ(kv4::event_wait(t->event, 5000), 0); // a cancel ends the transfer later
    EXPECT_EQ(hid.outcome(t), hid_io::failed);
}

TEST_F(SimTransfer, FlushDiscardsQueuedInputAndCancelOrCloseEndsAPendingRead)
{
    ASSERT_EQ(write({12}), hid_io::completed);
    ASSERT_EQ(write({12}), hid_io::completed);
    EXPECT_TRUE(hid.flush_input(h));
    kv4::event_set(t->event);
    ASSERT_EQ(read(), hid_io::pending);
    EXPECT_FALSE(set());
    hid.cancel_transfer(h, t);
    EXPECT_EQ(kv4::event_wait(t->event, 5000), 0);
    EXPECT_EQ(hid.outcome(t), hid_io::failed);

    ASSERT_EQ(read(), hid_io::pending);
    hid.close(h);
    h = nullptr;
    EXPECT_EQ(kv4::event_wait(t->event, 5000), 0);
}

TEST_F(SimTransfer, RemovalsAndResetsFailPendingAndLaterTransfers)
{
    ASSERT_EQ(read(), hid_io::pending);
    kv4sim_detach(m);
    EXPECT_TRUE(set());
    EXPECT_EQ(hid.outcome(t), hid_io::failed);
    EXPECT_EQ(write({12}), hid_io::failed);
    EXPECT_EQ(read(), hid_io::failed);
    EXPECT_FALSE(hid.set_feature(h, in.data(), 33));
    hid.close(h);

    kv4sim_reattach(m, 0);
    h = open(m);
    kv4sim_set_fault(m, KV4SIM_FAULT_UNPLUG_ON_WRITE, 1);
    ASSERT_EQ(write({12}), hid_io::pending); // pulled out mid-transfer
    EXPECT_TRUE(set());
    EXPECT_EQ(hid.outcome(t), hid_io::failed);
    EXPECT_FALSE(hid.check_present(kv4sim_path(m)));
    hid.close(h);

    kv4sim_reattach(m, 0);
    h = open(m);
    kv4sim_set_latency_us(m, 10000000, 0);
    ASSERT_EQ(write({12}), hid_io::pending);
    EXPECT_EQ(hid.outcome(t), hid_io::pending); // the unplug was for one write only
    kv4sim_reset();
    EXPECT_TRUE(set());
    EXPECT_EQ(hid.outcome(t), hid_io::failed);
    EXPECT_EQ(read(), hid_io::failed);
}

} // namespace
