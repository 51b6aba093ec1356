// The command transactions of the command set: echo, status and special frames on the wire, how
// their answers are decoded, and the buffer mode that do_DDIcommand and special leave behind.
#include "api/port_operations.h"
#include "support/sim_fixture.h"

namespace {

using kv4test::layout;
using kv4test::SimTest;
using Bytes = std::vector<uint8_t>;

// open_port() gives the default layout: reports of 20, 60, 120 and 500 bytes, IDs 1-4.
using Commands = SimTest;

// In response mode the output report shows the requested response length, in command mode the
// frame length; output reports of 109, 110, 111, 200, 201, 202 and 1024 bytes pin both exactly.
TEST_F(Commands, EchoPadsTheFrameToAtLeast110BytesAndAsksForAsManyBack)
{
    open_port(layout({1024}, {109, 110, 111, 200, 201, 202, 1024})); // output IDs 2 to 8
    // Report IDs: 110 bytes is ID 3, 111 is 4, 201 is 6, 1024 is 8.
    const std::pair<uint16_t, uint8_t> cases[] = {{0, 3}, {3, 3}, {109, 3}, {110, 4}, {200, 6}, {511, 8}};
    for (const auto &[data_length, report_id] : cases) {
        Bytes expected{report_id, 0x0A};
        for (std::size_t i = 0; i < data_length; ++i)
            expected.push_back(static_cast<uint8_t>(i * 7 + 1));
        for (uint8_t buffer_mode : {TKUSB_BUFFER_MODE_RESPONSE, TKUSB_BUFFER_MODE_COMMAND}) {
            ASSERT_EQ(kv4::port_set_buffer_mode(0, buffer_mode), 0);
            kv4sim_wire_clear(monitor);
            EXPECT_EQ(tkcmdsetUSB_echo(0, expected.data() + 2, data_length), 0);
            const std::vector<Bytes> sent = reports(monitor, KV4SIM_WIRE_OUTPUT);
            ASSERT_EQ(sent.size(), 1u);
            EXPECT_EQ(head(sent[0], expected.size()), expected) << data_length << " bytes, mode " << int{buffer_mode};
        }
    }
    // The frame would not fit the 512-byte command buffer.
    kv4sim_wire_clear(monitor);
    Bytes too_long(512, 0x55);
    EXPECT_EQ(tkcmdsetUSB_echo(0, too_long.data(), 512), TKUSB_INVALID_PARAMETER);
    EXPECT_EQ(tkcmdsetUSB_echo(0, too_long.data(), 0xFFFF), TKUSB_INVALID_PARAMETER);
    EXPECT_EQ(kv4sim_wire_count(monitor), 0u);
}

// Status byte 0 makes bytes 1-2 the monitor's code and leaves the word at 0; with code 0 it counts
// as success.
TEST_F(Commands, StatusDecodesTheAnswersFirstFourBytesAndDDICommandLeavesResponseMode)
{
    open_port();
    const std::tuple<uint32_t, int16_t, uint32_t> cases[] = {{0x12345678, 0, 0x12345678},
                                                             {0x01000000, 0, 0x01000000},
                                                             {0x00FF9C77, -100, 0},
                                                             {0x00D88C00, TKUSB_INVALID_PORT_ERR, 0},
                                                             {0x00000042, 0, 0x00000042}};
    for (const auto &[word, result, expected] : cases) {
        kv4sim_set_status_word(monitor, word);
        uint32_t status = 0xDEADBEEF;
        EXPECT_EQ(tkcmdsetUSB_status(0, &status), result) << std::hex << word;
        EXPECT_EQ(status, expected) << std::hex << word;
    }
    // The one-byte frame 0C asks for the largest report's worth (500), so the 500-byte output report
    // carries it.
    EXPECT_EQ(head(reports(monitor, KV4SIM_WIRE_OUTPUT).at(0), 2), (Bytes{4, 0x0C}));

    // do_DDIcommand runs in response mode and leaves it set, even when the transaction fails: in
    // command mode the 1-byte status frame would travel in the 20-byte report (ID 1).
    const uint8_t status_frame[1] = {0x0C};
    uint8_t response[512];
    ASSERT_EQ(kv4::port_set_buffer_mode(0, TKUSB_BUFFER_MODE_COMMAND), 0);
    uint16_t length = 100;
    EXPECT_EQ(tkcmdsetUSB_do_DDIcommand(0, status_frame, 1, response, &length, 1000), 0);
    EXPECT_EQ(buffer_mode(), TKUSB_BUFFER_MODE_RESPONSE);
    EXPECT_EQ(reports(monitor, KV4SIM_WIRE_OUTPUT).back()[0], 3); // 120 bytes, for 100 response bytes
    ASSERT_EQ(kv4::port_set_buffer_mode(0, 7), 0);
    length = 600;
    EXPECT_EQ(tkcmdsetUSB_do_DDIcommand(0, status_frame, 1, response, &length, 1000), TKUSB_TOOLONG_REPORT_ERR);
    EXPECT_EQ(buffer_mode(), TKUSB_BUFFER_MODE_RESPONSE);
}

// Special runs in response mode and leaves it set: in command mode its 7-byte frame would travel
// in the 20-byte report (ID 1), not the largest.
TEST_F(Commands, SpecialSendsBothArgumentsBigEndianAndDecodesBytesOneToFour)
{
    open_port();
    ASSERT_EQ(kv4::port_set_buffer_mode(0, TKUSB_BUFFER_MODE_COMMAND), 0);
    uint32_t value = 0xDEADBEEF;
    EXPECT_EQ(tkcmdsetUSB_special(0, 0x0102, 0x03040506, &value), 0);
    EXPECT_EQ(value, 0x03040506u ^ 0x01020102u); // the simulated monitor's answer
    EXPECT_EQ(buffer_mode(), TKUSB_BUFFER_MODE_RESPONSE);
    // Without a result pointer the transaction still runs.
    EXPECT_EQ(tkcmdsetUSB_special(0, 0xA1B2, 0xC3D4E5F6, nullptr), 0);
    const std::vector<Bytes> sent = reports(monitor, KV4SIM_WIRE_OUTPUT);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(head(sent[0], 8), (Bytes{4, 0x0D, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06}));
    EXPECT_EQ(head(sent[1], 8), (Bytes{4, 0x0D, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6}));
}

} // namespace
