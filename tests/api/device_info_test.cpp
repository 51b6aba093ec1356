// What a host learns about a port without a command transaction (identification strings, maximum
// report size, buffer mode), the feature report it can send, and the refusals that close a port.
#include "api/port_operations.h"
#include "support/sim_fixture.h"

#include <cstring>
#include <functional>
#include <string>
#include <tuple>

namespace {

using kv4test::layout;
using kv4test::SimTest;
using Bytes = std::vector<uint8_t>;

using string_query = int16_t (*)(uint16_t port, char *buffer, uint8_t length);
const std::tuple<const char *, string_query, const char *> string_queries[] = {
    {"serial_number", &tkcmdsetUSB_serial_number, "SN-0042"},
    {"fw_version", &tkcmdsetUSB_fw_version, "FW 2.10"},
    {"hw_version", &tkcmdsetUSB_hw_version, "HW rev C"},
    {"loader_fw_version", &tkcmdsetUSB_loader_fw_version, "BL 0.9"},
};

class DeviceInfo : public SimTest {
  protected:
    // One monitor with the strings above, and the default layout or caps.
    void open(std::vector<kv4sim_value_cap> caps = {})
    {
        kv4sim_monitor_desc desc{};
        desc.serial = "SN-0042";
        desc.fw_version = "FW 2.10";
        desc.hw_version = "HW rev C";
        desc.loader_version = "BL 0.9";
        open_port(std::move(caps), desc);
    }
};

TEST_F(DeviceInfo, StringsArriveTerminatedAndALengthOfZeroWritesNothing)
{
    open();
    for (const auto &[name, query, expected] : string_queries) {
        char buffer[32];
        std::memset(buffer, 'x', sizeof buffer);
        EXPECT_EQ(query(0, buffer, sizeof buffer), 0) << name;
        EXPECT_STREQ(buffer, expected);
        std::memset(buffer, 'x', sizeof buffer);
        EXPECT_EQ(query(0, buffer, 0), 0) << name;
        EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, 'x')) << name;
    }
}

// Once closed, the port answers without asking the monitor (the fault would close it again and
// log a second line), writes no output and carries no command, until it is reset.
TEST_F(DeviceInfo, ARefusalClosesThePortUntilItIsReset)
{
    open();
    char text[16];
    const auto serial = [&text] { return tkcmdsetUSB_serial_number(0, text, sizeof text); };
    const auto feature = [] { return tkcmdsetUSB_set_feature(0, 0xBEEF, 0); };
    const std::tuple<int, std::function<int16_t()>, int16_t, const char *> refusals[] = {
        {KV4SIM_FAULT_REFUSE_STRINGS, serial, TKUSB_GET_STRING_ERR, "Get String Error"},
        {KV4SIM_FAULT_REFUSE_FEATURE, feature, TKUSB_SET_FEATURE_ERR, "Set Feature Error"},
        {KV4SIM_FAULT_REFUSE_WRITE, status_command, TKUSB_WRITE_FAILED_ERR, "ERROR_IO_PENDING"},
        {KV4SIM_FAULT_REFUSE_READ, status_command, TKUSB_READ_FAILED_ERR, "READ_FAILED_ERR"},
    };
    for (const auto &[fault, call, code, why] : refusals) {
        SCOPED_TRACE(why);
        const std::string line = std::string("------>USB DLL:**Closed Device Due to ") + why + "**";
        kv4sim_set_fault(monitor, fault, 1);
        EXPECT_EQ(call(), code);
        EXPECT_EQ(debug.count(line), 1u);
        std::memset(text, 'x', sizeof text);
        EXPECT_EQ(call(), TKUSB_DEVICE_CLOSED_ERR);
        EXPECT_EQ(std::string(text, sizeof text), std::string(sizeof text, 'x'));
        EXPECT_EQ(status_command(), TKUSB_DEVICE_CLOSED_ERR);
        EXPECT_EQ(debug.count(line), 1u);
        kv4sim_set_fault(monitor, fault, 0);
        ASSERT_EQ(tkcmdsetUSB_reset_port(0), 0);
        EXPECT_EQ(call(), 0);
        EXPECT_EQ(status_command(), 0);
    }
    EXPECT_EQ(debug.count(kv4test::parked_line), 0u); // a refused start leaves nothing to wait for
}

// Which report is the largest is the report tables' business; here the cap at 500, and size and
// buffer mode kept by the port, not the device: a closed or reopened port still has them.
TEST_F(DeviceInfo, MaxReportSizeAndBufferModeAreThePortsAndTheSizeIsCappedAt500)
{
    for (const auto &[caps, expected] : {std::pair{layout({499}, {20}, {2}), 499}, {layout({20}, {1024}), 500}}) {
        open(caps);
        EXPECT_EQ(buffer_mode(), TKUSB_BUFFER_MODE_RESPONSE);
        ASSERT_EQ(kv4::port_set_buffer_mode(0, 7), 0);
        for (int closed = 0; closed < 2; ++closed) {
            uint16_t size = 7;
            EXPECT_EQ(tkcmdsetUSB_max_report_size(0, &size), 0);
            EXPECT_EQ(size, expected);
            EXPECT_EQ(buffer_mode(), 7);
            ASSERT_EQ(tkcmdsetUSB_shutdown(0), 0);
        }
        ASSERT_EQ(tkcmdsetUSB_reset_port(0), 0);
        EXPECT_EQ(buffer_mode(), 7);
    }
}

TEST_F(DeviceInfo, FeatureValueTravelsHighByteFirstInTheSmallestFeatureReportThatHoldsIt)
{
    // Features of 1, 8, 2 and 4 bytes get IDs 3 to 6; the 2-byte one (ID 5) is the smallest fit.
    open(layout({20}, {20}, {1, 8, 2, 4}));
    EXPECT_EQ(tkcmdsetUSB_set_feature(0, 0x1234, 0xFFFF), 0);
    const std::vector<Bytes> sent = reports(monitor, KV4SIM_WIRE_FEATURE);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].size(), 21u); // every transfer is 1 + the largest report
    EXPECT_EQ(head(sent[0], 3), (Bytes{5, 0x12, 0x34}));
    EXPECT_EQ(kv4sim_wire_count(monitor), 1u); // no command went with it

    // Without a feature report that holds two bytes the value is refused and the port stays open.
    for (auto caps : {layout({20}, {20}, {1}), layout({20}, {20})}) {
        open(caps);
        EXPECT_EQ(tkcmdsetUSB_set_feature(0, 0x1234, 0), TKUSB_TOOLONG_REPORT_ERR) << caps.size();
        EXPECT_EQ(kv4sim_wire_count(monitor), 0u);
        EXPECT_EQ(status_command(), 0);
    }
}

} // namespace
