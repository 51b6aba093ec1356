// The simulated monitor's answers to the service commands, over its own memories.
#include "platform/sim/device.h"
#include "sim/sim_handles.h"

namespace {

using kv4test::Bytes;

class SimMonitor : public ::testing::Test {
  protected:
    Bytes ask(Bytes frame, std::size_t capacity = 500)
    {
        Bytes answer(capacity);
        std::size_t n = 0;
        if (!monitor.answer(frame.data(), frame.size(), answer.data(), capacity, &n))
            return {};
        answer.resize(n);
        return answer;
    }
    static Bytes refused(int16_t code)
    {
        return {0, static_cast<uint8_t>(static_cast<uint16_t>(code) >> 8), static_cast<uint8_t>(code)};
    }
    kv4::sim::device monitor;
};

TEST_F(SimMonitor, FixedCommandsAnswerAsTheHostDecodesThem)
{
    EXPECT_EQ(ask({10, 'h', 'i', 0}), (Bytes{1, 'h', 'i', 0}));
    EXPECT_EQ(ask({12}), (Bytes{1, 0, 0, 0}));
    monitor.status_word = 0x12345678;
    EXPECT_EQ(ask({12, 0, 0}), (Bytes{0x12, 0x34, 0x56, 0x78}));
    // 0x03040506 XOR 0x0102 * 0x00010001
    EXPECT_EQ(ask({13, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06}), (Bytes{1, 0x02, 0x06, 0x04, 0x04}));
    EXPECT_EQ(ask({13, 0x01, 0x02}), refused(KV4SIM_ERR_SHORT_FRAME));
    EXPECT_EQ(ask({10, 1, 2, 3, 4, 5, 6, 7, 8, 9}, 8), refused(KV4SIM_ERR_ANSWER_TOO_LONG));
    monitor.v3_update_first = 0x05060708;
    monitor.v3_update_second = 0x090A;
    EXPECT_EQ(ask({0x2D}), (Bytes{1, 0, 0, 0, 0}));
    EXPECT_EQ(ask({0x2E}), (Bytes{1, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(ask({0x77, 1, 2}), Bytes{}); // not a service command: left to the responder
}

TEST_F(SimMonitor, EveryMemoryReadsBackWhatWasWrittenInItsOwnUnits)
{
    EXPECT_EQ(ask({0x22, 0x00, 0x01, 0x23, 0x45, 0x00, 0x02, 0xAA, 0xBB, 0xCC, 0xDD}), Bytes{1});
    EXPECT_EQ(ask({0x23, 0x00, 0x01, 0x23, 0x45, 0x00, 0x02}), (Bytes{1, 0xAA, 0xBB, 0xCC, 0xDD}));
    EXPECT_EQ(ask({0x29, 0x00, 0x1F, 0xFF, 0xFF, 0x00, 0x01, 0x5A}), Bytes{1}); // the last SPI byte
    EXPECT_EQ(ask({0x2A, 0x00, 0x1F, 0xFF, 0xFF, 0x00, 0x01}), (Bytes{1, 0x5A}));
    EXPECT_EQ(ask({0x1A, 0x00, 0x00, 0x00, 0x10, 0x00, 0x01, 0x12, 0x34}), Bytes{1}); // one RAM word
    EXPECT_EQ(ask({0x1E, 0x00, 0x00, 0x00, 0x12, 0x00, 0x01, 0x56}), Bytes{1});
    EXPECT_EQ(ask({0x1F, 0x00, 0x00, 0x00, 0x10, 0x00, 0x03}), (Bytes{1, 0x12, 0x34, 0x56}));
    EXPECT_EQ(ask({0x24, 0x12, 0x34, 0x00, 0x02, 0x77, 0x88}), Bytes{1});
    EXPECT_EQ(ask({0x25, 0x12, 0x34, 0x00, 0x02}), (Bytes{1, 0x77, 0x88}));
    uint8_t word[2];
    monitor.memory.read(kv4::sim::region::flash, 0x00012345, word, 2);
    EXPECT_EQ(word[0], 0xAA); // the host's byte order, unchanged
}

TEST_F(SimMonitor, BlocksOutsideTheirMemoryOrShortOfTheirDataAreRefused)
{
    const Bytes out_of_range = refused(KV4SIM_ERR_OUT_OF_RANGE);
    EXPECT_EQ(ask({0x23, 0x00, 0x0F, 0xFF, 0xFE, 0x00, 0x02}), out_of_range); // 4 bytes from 1 MiB - 2
    EXPECT_EQ(ask({0x1F, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01}), out_of_range); // RAM is 64 KiB
    EXPECT_EQ(ask({0x25, 0x1F, 0xFF, 0x00, 0x02}), out_of_range);             // EEPROM is 8 KiB
    EXPECT_EQ(ask({0x24, 0x00, 0x00, 0x00, 0x02, 0x77}), refused(KV4SIM_ERR_SHORT_FRAME));
    EXPECT_EQ(ask({0x23, 0x00, 0x00}), refused(KV4SIM_ERR_SHORT_FRAME));
    EXPECT_EQ(ask({0x2A, 0, 0, 0, 0, 0x01, 0x00}, 200), refused(KV4SIM_ERR_ANSWER_TOO_LONG));
}

TEST_F(SimMonitor, ImageCrcIsZlibsCrc32OfTheFlashRegion)
{
    const char digits[] = "123456789";
    monitor.memory.write(kv4::sim::region::flash, 0x1000, reinterpret_cast<const uint8_t *>(digits), 9);
    EXPECT_EQ(ask({0x2C, 0, 0, 0x10, 0x00, 0, 0, 0, 9}), (Bytes{1, 0xCB, 0xF4, 0x39, 0x26}));
    EXPECT_EQ(ask({0x2C, 0, 0x10, 0, 0, 0, 0, 0, 0}), (Bytes{1, 0, 0, 0, 0})); // empty, at the very end
    EXPECT_EQ(ask({0x2C, 0, 0x10, 0, 1, 0, 0, 0, 0}), refused(KV4SIM_ERR_CRC_START));
    EXPECT_EQ(ask({0x2C, 0, 0x0F, 0xFF, 0xFF, 0, 0, 0, 2}), refused(KV4SIM_ERR_CRC_END));
}

// Through the bus: memories preset from outside, and frames the monitor does not know.
class SimMonitorOnTheBus : public kv4test::SimBus {
  protected:
    Bytes exchange(kv4sim_monitor *m, Bytes frame)
    {
        kv4::hid_handle h = open(m);
        kv4::hid_transfer *t = transfer();
        frame.insert(frame.begin(), 1); // the 20-byte output report
        frame.resize(501);
        Bytes in(501);
        EXPECT_EQ(hid.start_write(h, frame.data(), 501, t), kv4::hid_io::completed);
        EXPECT_EQ(hid.start_read(h, in.data(), 501, t), kv4::hid_io::completed);
        hid.close(h);
        return Bytes(in.begin() + 1, in.begin() + 6);
    }
};

size_t csafe_responder(void *context, const uint8_t *frame, size_t length, uint8_t *answer, size_t capacity)
{
    *static_cast<size_t *>(context) = length;
    if (frame[0] != 0xF1 || capacity < 3)
        return 0;
    answer[0] = 1;
    answer[1] = 0xF1;
    answer[2] = 0xF2;
    return 3;
}

TEST_F(SimMonitorOnTheBus, MemoriesArePresetFromOutsideAndUnknownFramesGoToTheResponder)
{
    kv4sim_monitor *m = kv4sim_attach(nullptr);
    const uint8_t bytes[] = {9, 8, 7};
    ASSERT_EQ(kv4sim_write_memory(m, KV4SIM_EEPROM, 100, bytes, 3), 0);
    EXPECT_EQ(exchange(m, {0x25, 0, 100, 0, 3}), (Bytes{1, 9, 8, 7, 0}));
    EXPECT_EQ(exchange(m, {0xF1, 0x81, 0xF2}), (Bytes{0, 0xFF, 0x5D, 0, 0})); // -163, unknown
    size_t seen = 0;
    kv4sim_set_responder(m, &csafe_responder, &seen);
    EXPECT_EQ(exchange(m, {0xF1, 0x81, 0xF2}), (Bytes{1, 0xF1, 0xF2, 0, 0}));
    EXPECT_EQ(seen, 20u); // the whole payload of the output report
    uint8_t ram[2] = {};
    exchange(m, {0x1E, 0, 0, 0, 4, 0, 2, 0xAB, 0xCD});
    ASSERT_EQ(kv4sim_read_memory(m, KV4SIM_RAM, 4, ram, 2), 0);
    EXPECT_EQ(ram[0], 0xAB);
    EXPECT_EQ(ram[1], 0xCD);
}

} // namespace
