// Memory and firmware block commands: their frames, block limits derived from the largest
// report, the buffer mode they borrow and put back, and their refusals.
#include "api/port_operations.h"
#include "support/exports.h"
#include "support/sim_fixture.h"

#include <algorithm>
#include <string>
#include <tuple>

namespace {

using kv4test::block_command;
using kv4test::layout;
using kv4test::SimTest;
using Bytes = std::vector<uint8_t>;

class BlockCommands : public SimTest {
  protected:
    // The frame of the only report written, without its report ID.
    Bytes sent_frame(std::size_t length) const
    {
        const std::vector<Bytes> sent = reports(monitor, KV4SIM_WIRE_OUTPUT);
        return sent.size() == 1 ? head(Bytes(sent[0].begin() + 1, sent[0].end()), length) : Bytes{};
    }
    Bytes memory(int region, uint32_t address, std::size_t length) const
    {
        Bytes out(length);
        EXPECT_EQ(kv4sim_read_memory(monitor, region, address, out.data(), length), 0);
        return out;
    }
};

// kv4usb's transfers through files check every other member's frame against the monitor.
TEST_F(BlockCommands, DocumentedFramesAndAnswersInCommandMode)
{
    open_port();
    uint16_t length = 1;
    uint8_t words[4] = {0xAA, 0xBB, 0xCC, 0xDD};
    EXPECT_EQ(tkcmdsetUSB_write_flashblk16(0, 0x00012345, words, 2, &length), 0);
    EXPECT_EQ(sent_frame(11), (Bytes{0x22, 0x00, 0x01, 0x23, 0x45, 0x00, 0x02, 0xAA, 0xBB, 0xCC, 0xDD}));
    EXPECT_EQ(memory(KV4SIM_FLASH, 0x12345, 4), Bytes(words, words + 4));
    kv4sim_wire_clear(monitor);
    EXPECT_EQ(tkcmdsetUSB_write_memblk16(0, 0xABC, words, 1, &length), 0);
    EXPECT_EQ(sent_frame(9), (Bytes{0x1A, 0x00, 0x00, 0x0A, 0xBC, 0x00, 0x01, 0xAA, 0xBB}));
    EXPECT_EQ(memory(KV4SIM_RAM, 0xABC, 2), Bytes(words, words + 2));

    // EEPROM addresses travel as their low 16 bits; the reader's buffer beyond the block stays.
    const Bytes stored = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    ASSERT_EQ(kv4sim_write_memory(monitor, KV4SIM_EEPROM, 0x1234, stored.data(), stored.size()), 0);
    kv4sim_wire_clear(monitor);
    Bytes data(20, 0xEE);
    length = 17;
    EXPECT_EQ(tkcmdsetUSB_read_eeblk8(0, 0xABCD1234, data.data(), 16, &length), 0);
    EXPECT_EQ(sent_frame(5), (Bytes{0x25, 0x12, 0x34, 0x00, 0x10}));
    EXPECT_EQ(length, 17);
    EXPECT_EQ(head(data, 16), stored);
    EXPECT_EQ(Bytes(data.begin() + 16, data.end()), Bytes(4, 0xEE));

    // CRC-32 (zlib) check value: "123456789" gives CBF43926.
    ASSERT_EQ(kv4sim_write_memory(monitor, KV4SIM_FLASH, 0x400, "123456789", 9), 0);
    uint32_t crc = 0;
    length = 5;
    EXPECT_EQ(tkcmdsetUSB_get_image_crc(0, 0x400, &crc, 9, &length), 0);
    EXPECT_EQ(crc, 0xCBF43926u);
    kv4sim_wire_clear(monitor);
    EXPECT_EQ(tkcmdsetUSB_get_image_crc(0, 0, &crc, 100000, &length), 0);
    EXPECT_EQ(sent_frame(9), (Bytes{0x2C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x86, 0xA0}));

    // 50 bytes make a 57-byte frame: in response mode a one-byte answer would choose the 20-byte
    // report, so the block runs in command mode, which it leaves again.
    const Bytes content(50, 0x3C);
    kv4sim_wire_clear(monitor);
    length = 1;
    EXPECT_EQ(tkcmdsetUSB_write_memblk8(0, 0x200, content.data(), 50, &length), 0);
    EXPECT_EQ(reports(monitor, KV4SIM_WIRE_OUTPUT).at(0)[0], 2); // 60 bytes
    EXPECT_EQ(memory(KV4SIM_RAM, 0x200, 50), content);
    EXPECT_EQ(buffer_mode(), TKUSB_BUFFER_MODE_RESPONSE);

    // The image CRC waits 1000 ms plus 0.0228 ms per byte: 1000 ms for a short region, 1912 ms for
    // 40000 bytes.
    kv4sim_set_latency_us(monitor, 0, 1500000);
    length = 5;
    EXPECT_EQ(tkcmdsetUSB_get_image_crc(0, 0, &crc, 40000, &length), 0);
    EXPECT_EQ(tkcmdsetUSB_get_image_crc(0, 0, &crc, 40, &length), TKUSB_READ_TIMEOUT_ERR);
}

// Refused blocks send nothing and leave the port's buffer mode as it was.
TEST_F(BlockCommands, BlockLimitsFollowTheLargestReport)
{
    // Input and output reports of one size M, the largest; the counts are in the member's units.
    const std::tuple<uint16_t, const char *, uint32_t, uint32_t> limits[] = {
        {64, "write_memblk8", 54, 55},                                            // 64 - 9 = 55, made even
        {64, "read_flashblk16", 31, 32},                                          // 62 bytes <= 63, 64 > 63
        {65, "write_spiflashblk8", 56, 57},                                       // 65 - 9 = 56
        {65, "write_flashblk16", 28, 29},      {65, "write_eeblk8", 58, 59},      // 65 - 7 = 58
        {65, "read_memblk8", 64, 65},          {1024, "write_memblk8", 490, 491}, // M is taken as 500
        {1024, "write_memblk16", 245, 246},    {1024, "write_eeblk8", 492, 493},
        {1024, "read_spiflashblk8", 499, 500}, {1024, "read_eeblk8", 499, 500},
    };
    for (const auto &[report, name, accepted, refused] : limits) {
        SCOPED_TRACE(std::string(name) + " M=" + std::to_string(report));
        const block_command &m =
            *std::find_if(std::begin(kv4test::block_commands), std::end(kv4test::block_commands),
                          [wanted = std::string(name)](const block_command &c) { return c.name == wanted; });
        open_port(layout({report}, {report}));
        ASSERT_EQ(kv4::port_set_buffer_mode(0, 7), 0);
        Bytes data(1024, 0x5A);
        uint16_t length = static_cast<uint16_t>(refused * m.unit + 1);
        EXPECT_EQ(m.run(0, 0, data.data(), refused, &length), m.write ? TKUSB_WRITE_FAILED_ERR : TKUSB_READ_FAILED_ERR);
        EXPECT_EQ(kv4sim_wire_count(monitor), 0u);
        EXPECT_EQ(buffer_mode(), 7);
        length = m.write ? 1 : static_cast<uint16_t>(accepted * m.unit + 1);
        EXPECT_EQ(m.run(0, 0, data.data(), accepted, &length), 0);
        EXPECT_EQ(reports(monitor, KV4SIM_WIRE_OUTPUT).size(), 1u);
        EXPECT_EQ(buffer_mode(), 7);
    }
}

// Empty blocks succeed without a port; word counts too large to double, and response lengths
// beyond the 501-byte response area (or none), are refused.
TEST_F(BlockCommands, EmptyOversizedAndUnanswerableBlocksSendNothing)
{
    open_port(layout({1024}, {1024}));
    Bytes data(1024, 0xEE);
    uint16_t length = 11;
    for (const block_command &m : kv4test::block_commands) {
        EXPECT_EQ(m.run(9, 0, data.data(), 0, &length), 0) << m.name;
        if (m.unit == 2) {
            for (uint32_t words : {0x80000000u, 0x80000001u, 0xFFFFFFFFu})
                EXPECT_EQ(m.run(0, 0, data.data(), words, &length),
                          m.write ? TKUSB_WRITE_FAILED_ERR : TKUSB_READ_FAILED_ERR)
                    << m.name << ' ' << words;
        }
        length = 502;
        EXPECT_EQ(m.run(0, 0, data.data(), 4, &length), TKUSB_INVALID_PARAMETER) << m.name;
        EXPECT_EQ(m.run(0, 0, data.data(), 4, nullptr), TKUSB_INVALID_PARAMETER) << m.name;
    }
    uint32_t crc = 0;
    tkcmdsetUSB_update_status status{};
    tkcmdsetUSB_v3_update_status v3{};
    EXPECT_EQ(tkcmdsetUSB_get_image_crc(0, 0, &crc, 10, &length), TKUSB_INVALID_PARAMETER);
    EXPECT_EQ(tkcmdsetUSB_get_update_status(0, &status, &length), TKUSB_INVALID_PARAMETER);
    EXPECT_EQ(tkcmdsetUSB_get_V3_update_status(0, &v3, &length), TKUSB_INVALID_PARAMETER);
    tkcmdsetUSB_shutdown_all();
    for (const block_command &m : kv4test::block_commands)
        EXPECT_EQ(m.run(0, 0, data.data(), 0, &length), 0) << m.name;
    EXPECT_EQ(kv4sim_wire_count(monitor), 0u);

    // The largest response length the area holds: the status byte and 500 bytes.
    open_port(layout({1024}, {1024}));
    length = 501;
    EXPECT_EQ(tkcmdsetUSB_read_spiflashblk8(0, 0, data.data(), 499, &length), 0);
    EXPECT_EQ(length, 501);
}

TEST_F(BlockCommands, UpdateStatusRecordsAreDecodedBigEndianAndKeptOnFailure)
{
    open_port();
    ASSERT_EQ(kv4::port_set_buffer_mode(0, 7), 0);
    const auto fields = [](const auto &record) {
        return std::pair<uint32_t, uint32_t>(record.first_value, record.second_value);
    };
    using values = std::pair<uint32_t, uint32_t>;
    tkcmdsetUSB_update_status status{1, 1};
    tkcmdsetUSB_v3_update_status v3{};
    uint16_t length = 10;
    EXPECT_EQ(tkcmdsetUSB_get_update_status(0, &status, &length), 0);
    EXPECT_EQ(fields(status), values(0, 0)); // a fresh simulated monitor's
    kv4sim_set_update_status(monitor, 0x1234, 0xFEDC);
    kv4sim_set_v3_update_status(monitor, 0x89ABCDEF, 0x0102);
    EXPECT_EQ(tkcmdsetUSB_get_update_status(0, &status, &length), 0);
    EXPECT_EQ(fields(status), values(0x1234, 0xFEDC));
    EXPECT_EQ(tkcmdsetUSB_get_V3_update_status(0, &v3, &length), 0);
    EXPECT_EQ(fields(v3), values(0x89ABCDEF, 0x0102)); // so frames 2D and 2E went out
    EXPECT_EQ(buffer_mode(), 7);

    kv4sim_set_fault(monitor, KV4SIM_FAULT_REFUSE_WRITE, 1);
    status = {0x1111, 0x2222};
    EXPECT_EQ(tkcmdsetUSB_get_update_status(0, &status, &length), TKUSB_WRITE_FAILED_ERR);
    EXPECT_EQ(fields(status), values(0x1111, 0x2222));
    v3 = {0x33333333, 0x4444};
    EXPECT_EQ(tkcmdsetUSB_get_V3_update_status(0, &v3, &length), TKUSB_DEVICE_CLOSED_ERR);
    EXPECT_EQ(fields(v3), values(0x33333333, 0x4444));
    EXPECT_EQ(buffer_mode(), 7);
}

TEST_F(BlockCommands, MonitorErrorsLeaveTheHostsBuffersAloneAndBytesNotDeliveredReadAsZero)
{
    open_port();
    ASSERT_EQ(kv4::port_set_buffer_mode(0, 7), 0);
    uint16_t length = 17;
    Bytes data(16, 0xEE);
    EXPECT_EQ(tkcmdsetUSB_read_memblk8(0, 0xFFF8, data.data(), 16, &length), KV4SIM_ERR_OUT_OF_RANGE);
    EXPECT_EQ(tkcmdsetUSB_read_flashblk16(0, 0xFFFFC, data.data(), 8, &length), KV4SIM_ERR_OUT_OF_RANGE);
    EXPECT_EQ(data, Bytes(16, 0xEE));
    EXPECT_EQ(tkcmdsetUSB_write_eeblk8(0, 0x1FF8, data.data(), 16, &length), KV4SIM_ERR_OUT_OF_RANGE);
    EXPECT_EQ(memory(KV4SIM_EEPROM, 0x1FF8, 8), Bytes(8, 0));
    uint32_t crc = 0xDEADBEEF;
    EXPECT_EQ(tkcmdsetUSB_get_image_crc(0, 0x100001, &crc, 1, &length), KV4SIM_ERR_CRC_START);
    EXPECT_EQ(tkcmdsetUSB_get_image_crc(0, 0xFFF00, &crc, 0x101, &length), KV4SIM_ERR_CRC_END);
    EXPECT_EQ(tkcmdsetUSB_get_image_crc(0, 0x100000, &crc, 1, &length), KV4SIM_ERR_CRC_END); // starts at the end
    EXPECT_EQ(crc, 0xDEADBEEFu);
    EXPECT_EQ(buffer_mode(), 7);

    // Bytes not delivered read as zero, also where a previous read left others in the response area.
    const Bytes stored = {0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A};
    ASSERT_EQ(kv4sim_write_memory(monitor, KV4SIM_RAM, 0x100, stored.data(), stored.size()), 0);
    length = 9; // the status byte and 8 of the 16 data bytes
    EXPECT_EQ(tkcmdsetUSB_read_memblk8(0, 0x100, data.data(), 16, &length), 0);
    EXPECT_EQ(length, 9);
    EXPECT_EQ(data, (Bytes{0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0, 0, 0, 0, 0, 0, 0, 0}));
    length = 3;
    EXPECT_EQ(tkcmdsetUSB_read_memblk8(0, 0x100, data.data(), 16, &length), 0);
    EXPECT_EQ(data, (Bytes{0x81, 0x82, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

} // namespace
