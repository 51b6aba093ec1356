// The simulated monitor's answers to the service commands, over its own memories.
#include "platform/sim/device.h"
#include "sim/sim_handles.h"

namespace {

using kv4test::Bytes;

Bytes refused(int16_t code)
{
    return {0, static_cast<uint8_t>(static_cast<uint16_t>(code) >> 8), static_cast<uint8_t>(code)};
}

// Steps in order: a block written is read back in the next step.
TEST(SimMonitor, ServiceCommandsAnswerAsTheHostDecodesThem)
{
    kv4::sim::device monitor;
    monitor.status_word = 0x12345678;
    monitor.memory.write(kv4::sim::region::flash, 0x1000, reinterpret_cast<const uint8_t *>("123456789"), 9);
    const Bytes ok = {1}, out_of_range = refused(KV4SIM_ERR_OUT_OF_RANGE),
                short_frame = refused(KV4SIM_ERR_SHORT_FRAME);
    const struct {
        Bytes frame, answer;
        std::size_t capacity;
    } steps[] = {
        {{10, 'h', 'i', 0}, {1, 'h', 'i', 0}, 500},
        {{12, 0, 0}, {0x12, 0x34, 0x56, 0x78}, 500},
        {{13, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06}, {1, 0x02, 0x06, 0x04, 0x04}, 500}, // 0x03040506 ^ 0x01020102
        {{13, 0x01, 0x02}, short_frame, 500},
        {{10, 1, 2, 3, 4, 5, 6, 7, 8, 9}, refused(KV4SIM_ERR_ANSWER_TOO_LONG), 8},
        {{0x77, 1, 2}, {}, 500}, // not a service command: left to the responder
        {{0x22, 0x00, 0x01, 0x23, 0x45, 0x00, 0x02, 0xAA, 0xBB, 0xCC, 0xDD}, ok, 500}, // two flash words
        {{0x23, 0x00, 0x01, 0x23, 0x45, 0x00, 0x02}, {1, 0xAA, 0xBB, 0xCC, 0xDD}, 500},
        {{0x29, 0x00, 0x1F, 0xFF, 0xFF, 0x00, 0x01, 0x5A}, ok, 500}, // the last SPI byte
        {{0x2A, 0x00, 0x1F, 0xFF, 0xFF, 0x00, 0x01}, {1, 0x5A}, 500},
        {{0x1A, 0x00, 0x00, 0x00, 0x10, 0x00, 0x01, 0x12, 0x34}, ok, 500}, // one RAM word
        {{0x1E, 0x00, 0x00, 0x00, 0x12, 0x00, 0x01, 0x56}, ok, 500},
        {{0x1F, 0x00, 0x00, 0x00, 0x10, 0x00, 0x03}, {1, 0x12, 0x34, 0x56}, 500},
        {{0x24, 0x12, 0x34, 0x00, 0x02, 0x77, 0x88}, ok, 500},
        {{0x25, 0x12, 0x34, 0x00, 0x02}, {1, 0x77, 0x88}, 500},
        {{0x23, 0x00, 0x0F, 0xFF, 0xFE, 0x00, 0x02}, out_of_range, 500}, // 4 bytes from 1 MiB - 2
        {{0x1F, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01}, out_of_range, 500}, // RAM is 64 KiB
        {{0x25, 0x1F, 0xFF, 0x00, 0x02}, out_of_range, 500},             // EEPROM is 8 KiB
        {{0x24, 0x00, 0x00, 0x00, 0x02, 0x77}, short_frame, 500},
        {{0x23, 0x00, 0x00}, short_frame, 500},
        {{0x2A, 0, 0, 0, 0, 0x01, 0x00}, refused(KV4SIM_ERR_ANSWER_TOO_LONG), 200},
        {{0x2C, 0, 0, 0x10, 0x00, 0, 0, 0, 9}, {1, 0xCB, 0xF4, 0x39, 0x26}, 500}, // CRC-32 check value
        {{0x2C, 0, 0x10, 0, 0, 0, 0, 0, 0}, {1, 0, 0, 0, 0}, 500},                // empty, at the very end
        {{0x2C, 0, 0x10, 0, 1, 0, 0, 0, 0}, refused(KV4SIM_ERR_CRC_START), 500},
        {{0x2C, 0, 0x0F, 0xFF, 0xFF, 0, 0, 0, 2}, refused(KV4SIM_ERR_CRC_END), 500},
    };
    for (const auto &step : steps) {
        Bytes answer(step.capacity);
        std::size_t n = 0;
        answer.resize(monitor.answer(step.frame.data(), step.frame.size(), answer.data(), step.capacity, &n) ? n : 0);
        EXPECT_EQ(answer, step.answer) << "step " << &step - steps;
    }
}

} // namespace
