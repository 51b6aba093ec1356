// The simulated bus below the library, where what the core relies on would not show through it:
// the sharing rule, handles that die with their monitor, ends of pending reads, the flush, strings
// outside ASCII, refusals no library call provokes, and what it tells its scripting callers.
#include "kv4usbcp_sim.h"
#include "platform/hid_services.h"
#include "platform/sim/device.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace kv4 {
hid_services &sim_hid_services() noexcept;
}

namespace {

using kv4::hid_access;
using kv4::hid_io;

class SimBus : public ::testing::Test {
  protected:
    void SetUp() override
    {
        kv4sim_reset();
        t.event = kv4::event_create();
    }
    void TearDown() override
    {
        kv4sim_reset();
        kv4::event_close(t.event);
    }
    kv4::hid_handle open(const kv4sim_monitor *m, hid_access access = hid_access::transfer, uint32_t *error = nullptr)
    {
        return hid.open(kv4sim_path(m), access, error);
    }
    bool set() const { return kv4::event_is_set(t.event); }

    kv4::hid_services &hid = kv4::sim_hid_services();
    kv4::hid_transfer t{};
};

// Strings go out as terminated UTF-16, cut to the buffer's room.
TEST_F(SimBus, OneHandleAtATimeDescribesItsMonitorEndsPendingReadsAndDiesWithIt)
{
    kv4sim_monitor_desc desc{};
    desc.product = "Z\xC3\xBCrich \xF0\x9F\x9A\xB2\xFF\xC3!"; // a bicycle beyond the BMP, then malformed bytes
    kv4sim_monitor *m = kv4sim_attach(&desc);
    uint32_t error = 0;
    kv4::hid_handle probe = open(m, hid_access::probe);
    ASSERT_NE(probe, nullptr);
    EXPECT_EQ(open(m, hid_access::transfer, &error), nullptr);
    EXPECT_EQ(error, kv4::error_sharing_violation);
    hid.close(probe);
    kv4::hid_handle h = open(m);
    ASSERT_NE(h, nullptr);
    uint16_t buffer[63], id = 0;
    const auto text = [&buffer] { return std::u16string(reinterpret_cast<const char16_t *>(buffer)); };
    ASSERT_TRUE(hid.product_string(h, buffer, sizeof buffer));
    EXPECT_EQ(text(), u"Z\u00FCrich \U0001F6B2\uFFFD\uFFFD!");
    std::fill(std::begin(buffer), std::end(buffer), 0xFFFF);
    ASSERT_TRUE(hid.product_string(h, buffer, 7)); // room for 3 characters: cut and, as on Windows, unterminated
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t *>(buffer), 4), u"Z\u00FCr\uFFFF");

    // The flush discards queued input, and cancel or close end a pending read; the wire log can be
    // switched off.
    constexpr uint16_t transfer_length = 501; // the default layout's largest report plus its ID
    std::vector<uint8_t> out(transfer_length), in(transfer_length);
    out[0] = 1;  // the 20-byte output report
    out[1] = 12; // asks for the status word
    ASSERT_EQ(hid.start_write(h, out.data(), transfer_length, &t), hid_io::completed);
    const std::size_t logged = kv4sim_wire_count(m);
    kv4sim_set_wire_log(m, 0);
    ASSERT_EQ(hid.start_write(h, out.data(), transfer_length, &t), hid_io::completed);
    EXPECT_EQ(kv4sim_wire_count(m), logged);
    EXPECT_TRUE(hid.flush_input(h));
    kv4::event_set(t.event);
    // As on Windows, a read shorter than the largest input report and a write longer than the
    // largest output report are refused, and a cancel or close ends a transfer later, not at once.
    EXPECT_EQ(hid.last_error(h), 0u);
    EXPECT_EQ(hid.start_read(h, in.data(), transfer_length - 1, &t), hid_io::failed);
    out.resize(transfer_length + 1);
    EXPECT_EQ(hid.start_write(h, out.data(), transfer_length + 1, &t), hid_io::failed);
    EXPECT_EQ(hid.last_error(h), 1784u); // ERROR_INVALID_USER_BUFFER, as Windows names the refusal
    ASSERT_EQ(hid.start_read(h, in.data(), transfer_length, &t), hid_io::pending);
    EXPECT_EQ(hid.outcome(&t), hid_io::pending);
    EXPECT_FALSE(set()); // reset at the start
    hid.cancel_transfer(h, &t);
    EXPECT_EQ(kv4::event_wait(t.event, 5000), 0);
    EXPECT_EQ(hid.outcome(&t), hid_io::failed);
    kv4sim_set_fault(m, KV4SIM_FAULT_WRITE_STALLS, 1); // a write the monitor never took fails as it recovers
    ASSERT_EQ(hid.start_write(h, out.data(), transfer_length, &t), hid_io::pending);
    kv4sim_set_fault(m, KV4SIM_FAULT_WRITE_STALLS, 0);
    EXPECT_EQ(hid.outcome(&t), hid_io::failed);
    ASSERT_EQ(hid.start_read(h, in.data(), transfer_length, &t), hid_io::pending);
    hid.close(h);
    EXPECT_EQ(kv4::event_wait(t.event, 5000), 0);
    EXPECT_EQ(hid.outcome(&t), hid_io::failed);
    h = open(m);

    kv4sim_detach(m);
    EXPECT_EQ(open(m, hid_access::probe, &error), nullptr);
    EXPECT_EQ(error, 2u); // not found
    kv4sim_reattach(m, 0);
    EXPECT_FALSE(hid.product_string(h, buffer, sizeof buffer));
    EXPECT_FALSE(hid.product_id(h, &id));
    EXPECT_FALSE(hid.flush_input(h));
    EXPECT_EQ(hid.get_preparsed(h), nullptr);
    kv4::hid_handle again = open(m); // with an empty input queue
    EXPECT_TRUE(hid.product_id(again, &id));
    EXPECT_EQ(hid.start_read(again, in.data(), transfer_length, &t), hid_io::pending);
    kv4::hid_transfer w{}; // a read already waiting takes the answer as the write completes
    w.event = kv4::event_create();
    EXPECT_EQ(hid.start_write(again, out.data(), transfer_length, &w), hid_io::completed);
    EXPECT_EQ(hid.outcome(&t), hid_io::completed);
    hid.close(h);
    hid.close(again);
    kv4::event_close(w.event);
}

// Frames fill the output report and the library asks for no more than fits, so these do not
// happen through it: frames too short for their command, an answer too long for the room; and
// frames that just fit, which must be answered.
TEST(SimMonitor, RefusesFramesTooShortForTheirCommandAndAnswersTooLongForTheRoom)
{
    using Bytes = std::vector<uint8_t>;
    const auto refused = [](int16_t code) {
        return Bytes{0, static_cast<uint8_t>(static_cast<uint16_t>(code) >> 8), static_cast<uint8_t>(code)};
    };
    kv4::sim::device monitor;
    // A special, a block header, a block's data, an image CRC, 256 bytes asked into 200, an echo,
    // then a one-byte EEPROM write.
    const std::tuple<Bytes, std::size_t, Bytes> cases[] = {
        {{0x0D, 0x01, 0x02}, 500, refused(KV4SIM_ERR_SHORT_FRAME)},
        {{0x23, 0x00, 0x00}, 500, refused(KV4SIM_ERR_SHORT_FRAME)},
        {{0x24, 0x00, 0x00, 0x00, 0x02, 0x77}, 500, refused(KV4SIM_ERR_SHORT_FRAME)},
        {{0x2C, 0x00, 0x00}, 500, refused(KV4SIM_ERR_SHORT_FRAME)},
        {{0x2A, 0, 0, 0, 0, 0x01, 0x00}, 200, refused(KV4SIM_ERR_ANSWER_TOO_LONG)},
        {{0x0A, 'h', 'i'}, 500, {1, 'h', 'i'}},
        {{0x24, 0x00, 0x10, 0x00, 0x01, 0x5A}, 500, {1}}};
    for (const auto &[frame, capacity, expected] : cases) {
        Bytes answer(capacity);
        std::size_t n = 0;
        ASSERT_TRUE(monitor.answer(frame.data(), frame.size(), answer.data(), capacity, &n));
        answer.resize(n);
        EXPECT_EQ(answer, expected) << "command " << int{frame[0]};
    }
}

// The refusals scripts rely on: a fault beyond the last, a plug-in of a monitor plugged in (the soak
// counts arrivals by it), a destroyed monitor.
TEST_F(SimBus, BadArgumentsAreRefused)
{
    kv4sim_monitor *m = kv4sim_attach(nullptr);
    EXPECT_EQ(kv4sim_set_fault(m, KV4SIM_FAULT_ANSWER_ALL + 1, 1), KV4SIM_INVALID_PARAMETER);
    EXPECT_EQ(kv4sim_set_fault(m, KV4SIM_FAULT_ANSWER_ALL, 1), 0); // the last fault is one
    EXPECT_EQ(kv4sim_set_rule(KV4SIM_RULE_REFUSE_PLUG_EVENTS + 1, 1), KV4SIM_INVALID_PARAMETER);
    EXPECT_EQ(kv4sim_reattach(m, 0), KV4SIM_INVALID_PARAMETER);
    kv4sim_destroy(m);
    EXPECT_EQ(kv4sim_path(m), nullptr);
    EXPECT_EQ(kv4sim_detach(m), KV4SIM_INVALID_PARAMETER);
}

} // namespace
