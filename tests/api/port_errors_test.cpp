// What every export that names a port answers for an unknown port, before initialisation and
// without the pointers it needs: nothing reaches a monitor, and outputs are left as documented.
#include "support/sim_fixture.h"

#include <functional>
#include <string>

namespace {

using kv4test::SimTest;

class PortErrors : public SimTest {
  protected:
    void SetUp() override
    {
        SimTest::SetUp();
        monitor = open_port();
    }

    struct call {
        const char *name;
        std::function<int16_t(uint16_t port)> run;
        int16_t stopped = TKUSB_NO_PORT_INIT_ERR; // the answer once the library is stopped
    };
    // Each export with arguments it could succeed with; the outputs are the members below.
    std::vector<call> calls()
    {
        return {
            {"do_command", [this](uint16_t p) { return tkcmdsetUSB_do_command(p, data, 3, response, &length, 100); }},
            {"do_DDIcommand",
             [this](uint16_t p) { return tkcmdsetUSB_do_DDIcommand(p, data, 3, response, &length, 100); }},
            {"echo", [this](uint16_t p) { return tkcmdsetUSB_echo(p, data, 3); }},
            {"status", [this](uint16_t p) { return tkcmdsetUSB_status(p, &status); }},
            {"special", [this](uint16_t p) { return tkcmdsetUSB_special(p, 1, 2, &value); }},
            {"write_flashblk16", [this](uint16_t p) { return tkcmdsetUSB_write_flashblk16(p, 0, data, 5, &length); }},
            {"read_flashblk16", [this](uint16_t p) { return tkcmdsetUSB_read_flashblk16(p, 0, data, 5, &length); }},
            {"write_spiflashblk8",
             [this](uint16_t p) { return tkcmdsetUSB_write_spiflashblk8(p, 0, data, 10, &length); }},
            {"read_spiflashblk8",
             [this](uint16_t p) { return tkcmdsetUSB_read_spiflashblk8(p, 0, data, 10, &length); }},
            {"write_memblk16", [this](uint16_t p) { return tkcmdsetUSB_write_memblk16(p, 0, data, 5, &length); }},
            {"write_memblk8", [this](uint16_t p) { return tkcmdsetUSB_write_memblk8(p, 0, data, 10, &length); }},
            {"read_memblk8", [this](uint16_t p) { return tkcmdsetUSB_read_memblk8(p, 0, data, 10, &length); }},
            {"write_eeblk8", [this](uint16_t p) { return tkcmdsetUSB_write_eeblk8(p, 0, data, 10, &length); }},
            {"read_eeblk8", [this](uint16_t p) { return tkcmdsetUSB_read_eeblk8(p, 0, data, 10, &length); }},
            {"get_image_crc", [this](uint16_t p) { return tkcmdsetUSB_get_image_crc(p, 0, &crc, 10, &length); }},
            {"get_update_status", [this](uint16_t p) { return tkcmdsetUSB_get_update_status(p, &update, &length); }},
            {"get_V3_update_status",
             [this](uint16_t p) { return tkcmdsetUSB_get_V3_update_status(p, &v3_update, &length); }},
            {"serial_number", [this](uint16_t p) { return tkcmdsetUSB_serial_number(p, text, sizeof text); }},
            {"fw_version", [this](uint16_t p) { return tkcmdsetUSB_fw_version(p, text, sizeof text); }},
            {"hw_version", [this](uint16_t p) { return tkcmdsetUSB_hw_version(p, text, sizeof text); }},
            {"loader_fw_version", [this](uint16_t p) { return tkcmdsetUSB_loader_fw_version(p, text, sizeof text); }},
            {"max_report_size", [this](uint16_t p) { return tkcmdsetUSB_max_report_size(p, &size); }},
            {"get_buffer_mode", [this](uint16_t p) { return tkcmdsetUSB_get_buffer_mode(p, &mode); }},
            {"set_feature", [](uint16_t p) { return tkcmdsetUSB_set_feature(p, 0x1234, 0); }},
            {"reset_port", [](uint16_t p) { return tkcmdsetUSB_reset_port(p); }, TKUSB_INVALID_PORT_ERR},
            {"shutdown", [](uint16_t p) { return tkcmdsetUSB_shutdown(p); }, TKUSB_INVALID_PORT_ERR},
        };
    }
    void mark_outputs()
    {
        status = value = size = 0xBEEF;
        mode = 0x55;
        std::fill(std::begin(text), std::end(text), 'x');
    }
    // The word outputs are cleared, the others left alone.
    void expect_outputs_after_a_refusal() const
    {
        EXPECT_EQ(status, 0u);
        EXPECT_EQ(value, 0u);
        EXPECT_EQ(size, 0u);
        EXPECT_EQ(mode, 0x55);
        EXPECT_EQ(std::string(text, sizeof text), std::string(sizeof text, 'x'));
    }

    kv4sim_monitor *monitor = nullptr;
    uint8_t data[16] = {};
    uint8_t response[512] = {};
    uint16_t length = 10, size = 0;
    uint32_t status = 0, value = 0, crc = 0;
    uint8_t mode = 0;
    char text[16] = {};
    tkcmdsetUSB_update_status update{};
    tkcmdsetUSB_v3_update_status v3_update{};
};

TEST_F(PortErrors, AnUnknownPortAndAStoppedLibraryAreReportedBeforeAnythingIsSent)
{
    mark_outputs();
    for (const call &c : calls())
        EXPECT_EQ(c.run(9), TKUSB_INVALID_PORT_ERR) << c.name;
    expect_outputs_after_a_refusal();

    tkcmdsetUSB_shutdown_all();
    mark_outputs();
    for (const call &c : calls())
        EXPECT_EQ(c.run(0), c.stopped) << c.name;
    expect_outputs_after_a_refusal();
    EXPECT_EQ(kv4sim_wire_count(monitor), 0u);
}

TEST_F(PortErrors, MissingPointersAreRefusedBeforeAnythingIsSent)
{
    const std::pair<const char *, std::function<int16_t()>> calls[] = {
        {"do_command command", [&] { return tkcmdsetUSB_do_command(0, nullptr, 1, response, &length, 100); }},
        {"do_command response", [&] { return tkcmdsetUSB_do_command(0, data, 1, nullptr, &length, 100); }},
        {"do_command length", [&] { return tkcmdsetUSB_do_command(0, data, 1, response, nullptr, 100); }},
        {"status", [] { return tkcmdsetUSB_status(0, nullptr); }},
        {"get_image_crc", [&] { return tkcmdsetUSB_get_image_crc(0, 0, nullptr, 10, &length); }},
        {"get_update_status", [&] { return tkcmdsetUSB_get_update_status(0, nullptr, &length); }},
        {"get_V3_update_status", [&] { return tkcmdsetUSB_get_V3_update_status(0, nullptr, &length); }},
        {"max_report_size", [] { return tkcmdsetUSB_max_report_size(0, nullptr); }},
        {"get_buffer_mode", [] { return tkcmdsetUSB_get_buffer_mode(0, nullptr); }},
        {"find_devices filter", [&] { return tkcmdsetUSB_find_devices(nullptr, &mode, &size); }},
        {"find_devices ports", [&] { return tkcmdsetUSB_find_devices("Q", &mode, nullptr); }},
    };
    for (const auto &[name, run] : calls)
        EXPECT_EQ(run(), TKUSB_INVALID_PARAMETER) << name;
    EXPECT_EQ(kv4sim_wire_count(monitor), 0u);
}

} // namespace
