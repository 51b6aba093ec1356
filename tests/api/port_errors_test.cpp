// What every export that names a port answers for an unknown port, before initialisation and
// without the pointers it needs: nothing reaches a monitor, and outputs are left as documented.
#include "support/exports.h"
#include "support/sim_fixture.h"

#include <functional>
#include <string>
#include <tuple>

namespace {

using kv4test::SimTest;

class PortErrors : public SimTest {
  protected:
    void SetUp() override
    {
        SimTest::SetUp();
        open_port();
    }
    uint8_t data[16] = {}, response[512] = {}, mode = 0;
    uint16_t length = 10, size = 0;
    uint32_t status = 0, value = 0, crc = 0;
    char text[16] = {};
    tkcmdsetUSB_update_status update{};
    tkcmdsetUSB_v3_update_status v3_update{};
};

// Each export with arguments it could succeed with, and its answer once the library is stopped
// (0: TKUSB_NO_PORT_INIT_ERR, as for most). The word outputs are cleared, the others left alone.
TEST_F(PortErrors, MissingPointersAnUnknownPortAndAStoppedLibraryAreReportedBeforeAnythingIsSent)
{
    using call = std::function<int16_t(uint16_t)>;
    std::vector<std::tuple<const char *, call, int16_t>> calls = {
        {"do_command", [&](uint16_t p) { return tkcmdsetUSB_do_command(p, data, 3, response, &length, 100); }, 0},
        {"do_DDIcommand", [&](uint16_t p) { return tkcmdsetUSB_do_DDIcommand(p, data, 3, response, &length, 100); }, 0},
        {"echo", [&](uint16_t p) { return tkcmdsetUSB_echo(p, data, 3); }, 0},
        {"status", [&](uint16_t p) { return tkcmdsetUSB_status(p, &status); }, 0},
        {"special", [&](uint16_t p) { return tkcmdsetUSB_special(p, 1, 2, &value); }, 0},
        {"get_image_crc", [&](uint16_t p) { return tkcmdsetUSB_get_image_crc(p, 0, &crc, 10, &length); }, 0},
        {"get_update_status", [&](uint16_t p) { return tkcmdsetUSB_get_update_status(p, &update, &length); }, 0},
        {"get_V3_update_status", [&](uint16_t p) { return tkcmdsetUSB_get_V3_update_status(p, &v3_update, &length); },
         0},
        {"max_report_size", [&](uint16_t p) { return tkcmdsetUSB_max_report_size(p, &size); }, 0},
        {"get_buffer_mode", [&](uint16_t p) { return tkcmdsetUSB_get_buffer_mode(p, &mode); }, 0},
        {"set_feature", [](uint16_t p) { return tkcmdsetUSB_set_feature(p, 0x1234, 0); }, 0},
        // Neither needs a started library: both answer that the port is unknown.
        {"reset_port", [](uint16_t p) { return tkcmdsetUSB_reset_port(p); }, TKUSB_INVALID_PORT_ERR},
        {"shutdown", [](uint16_t p) { return tkcmdsetUSB_shutdown(p); }, TKUSB_INVALID_PORT_ERR},
    };
    for (const kv4test::block_command &b : kv4test::block_commands) // 10 bytes
        calls.emplace_back(
            b.name, [&, b](uint16_t p) { return b.run(p, 0, data, 10 / b.unit, &length); }, 0);
    for (const auto query : kv4test::string_queries)
        calls.emplace_back(
            "string query", [&, query](uint16_t p) { return query(p, text, sizeof text); }, 0);
    // Missing pointers are refused whatever the port.
    const std::pair<const char *, std::function<int16_t()>> without_pointers[] = {
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
    for (const auto &[name, run] : without_pointers)
        EXPECT_EQ(run(), TKUSB_INVALID_PARAMETER) << name;
    for (const bool stopped : {false, true}) {
        SCOPED_TRACE(stopped ? "stopped" : "port 9");
        if (stopped)
            tkcmdsetUSB_shutdown_all();
        status = value = size = 0xBEEF;
        mode = 0x55;
        std::fill(std::begin(text), std::end(text), 'x');
        for (const auto &[name, run, when_stopped] : calls) {
            const int16_t expected = !stopped       ? TKUSB_INVALID_PORT_ERR
                                     : when_stopped ? when_stopped
                                                    : TKUSB_NO_PORT_INIT_ERR;
            EXPECT_EQ(run(stopped ? 0 : 9), expected) << name;
        }
        EXPECT_EQ(std::make_tuple(status, value, size, mode), std::make_tuple(0u, 0u, uint16_t{0}, uint8_t{0x55}));
        EXPECT_EQ(std::string(text, sizeof text), std::string(sizeof text, 'x'));
    }
    EXPECT_EQ(kv4sim_wire_count(monitor), 0u);
}

} // namespace
