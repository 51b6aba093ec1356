// A fixture for tests that run the library against simulated monitors: a clean bus, a started
// library, captured debug lines, and helpers to plug monitors in and find them.
#pragma once

#include "kv4usbcp.h"
#include "kv4usbcp_sim.h"
#include "platform/platform.h"
#include "platform/sim/sim_bus.h"
#include "support/debug_capture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace kv4test {

constexpr const char *monitor_filter = "Quillon5";
// Logged when a closed port's buffers must wait for a cancelled transfer that has not ended.
constexpr const char *parked_line = "-->USB DLL: a cancelled transfer has not ended; its buffers are kept until it does";

class SimTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        kv4sim_reset();
        reuses_ = kv4::sim::record_reuses();
        ASSERT_EQ(tkcmdsetUSB_init(), 0);
    }
    // Every test also checks that the library never started a transfer on a record whose
    // transfer the system still owned (after a cancel, say).
    void TearDown() override
    {
        tkcmdsetUSB_shutdown_all();
        kv4sim_reset();
        EXPECT_EQ(kv4::sim::record_reuses(), reuses_) << "a transfer record was reused while pending";
    }

    // A monitor with the default layout (input and output reports of 20, 60, 120 and 500 bytes,
    // a 32-byte feature report), or the given description.
    kv4sim_monitor *attach(const kv4sim_monitor_desc *desc = nullptr)
    {
        kv4sim_monitor *attached = kv4sim_attach(desc);
        EXPECT_NE(attached, nullptr);
        return attached;
    }
    kv4sim_monitor *attach_serial(const char *serial)
    {
        kv4sim_monitor_desc desc{};
        desc.serial = serial;
        return attach(&desc);
    }
    kv4sim_monitor *attach_serial(const std::string &serial) { return attach_serial(serial.c_str()); }
    // count monitors with serials prefix0, prefix1, ..., all listed by discovery on ports 0 up.
    std::vector<kv4sim_monitor *> attach_found(const std::string &prefix, int count)
    {
        std::vector<kv4sim_monitor *> monitors;
        for (int i = 0; i < count; ++i)
            monitors.push_back(attach_serial(prefix + std::to_string(i)));
        EXPECT_EQ(find().size(), static_cast<std::size_t>(count));
        return monitors;
    }
    // A fresh bus and library with one monitor (the default layout, or caps; desc for the rest of
    // its description) found on port 0, its wire log cleared; also kept as `monitor`.
    kv4sim_monitor *open_port(std::vector<kv4sim_value_cap> caps = {}, kv4sim_monitor_desc desc = {})
    {
        tkcmdsetUSB_shutdown_all();
        kv4sim_reset();
        EXPECT_EQ(tkcmdsetUSB_init(), 0);
        layouts_.push_back(std::move(caps));
        if (!layouts_.back().empty()) {
            desc.caps = layouts_.back().data();
            desc.ncaps = layouts_.back().size();
        }
        monitor = attach(&desc);
        EXPECT_EQ(find(), std::vector<uint16_t>{0});
        kv4sim_wire_clear(monitor);
        return monitor;
    }

    // Runs discovery with the monitor filter and returns the ports listed.
    std::vector<uint16_t> find(const char *filter = monitor_filter)
    {
        uint16_t ports[255] = {};
        uint8_t count = 0;
        EXPECT_EQ(tkcmdsetUSB_find_devices(filter, &count, ports), 0);
        return std::vector<uint16_t>(ports, ports + count);
    }

    // The whole transfers of one kind (KV4SIM_WIRE_OUTPUT, ...) in the wire log, report ID in byte 0.
    static std::vector<std::vector<uint8_t>> reports(const kv4sim_monitor *monitor, int kind)
    {
        std::vector<std::vector<uint8_t>> out;
        kv4sim_wire_entry entry;
        for (std::size_t i = 0; kv4sim_wire_get(monitor, i, &entry) == 0; ++i)
            if (entry.kind == kind)
                out.emplace_back(entry.bytes, entry.bytes + entry.length);
        return out;
    }
    // The first n bytes, or all there are.
    static std::vector<uint8_t> head(const std::vector<uint8_t> &bytes, std::size_t n)
    {
        return std::vector<uint8_t>(bytes.begin(),
                                    bytes.begin() + static_cast<std::ptrdiff_t>(std::min(n, bytes.size())));
    }
    // Whether the port (port 0) carries commands.
    static int16_t status_on(uint16_t port)
    {
        uint32_t status = 0;
        return tkcmdsetUSB_status(port, &status);
    }
    static int16_t status_command() { return status_on(0); }
    static uint8_t buffer_mode(uint16_t port = 0)
    {
        uint8_t value = 0;
        EXPECT_EQ(tkcmdsetUSB_get_buffer_mode(port, &value), 0);
        return value;
    }

    debug_capture debug;
    kv4sim_monitor *monitor = nullptr; // the last open_port's

  private:
    std::vector<std::vector<kv4sim_value_cap>> layouts_;
    unsigned reuses_ = 0;
};

// Waits until done() holds, for up to ms milliseconds (generous for a loaded machine); whether it does.
template <typename Done> bool eventually(Done done, int ms = 20000)
{
    for (int i = 0; i < ms; ++i, kv4::sleep_ms(1))
        if (done())
            return true;
    return false;
}
// Sends a status command as an asynchronous exchange.
inline int16_t send_status(uint16_t port, uint16_t tag = 0)
{
    const uint8_t status = 12;
    return tkcmdsetUSB_send_command(port, &status, 1, 0, tag);
}

// A one-byte command (12 asks for the status word) as a transaction on port, 10 bytes asked back.
inline int16_t transact(uint16_t port, uint8_t code, uint16_t timeout)
{
    uint8_t response[16];
    uint16_t length = 10;
    return tkcmdsetUSB_do_command(port, &code, 1, response, &length, timeout);
}

// Report layouts: one value capability per report.
inline std::vector<kv4sim_value_cap> layout(std::vector<uint16_t> input_sizes, std::vector<uint16_t> output_sizes,
                                            std::vector<uint16_t> feature_sizes = {})
{
    std::vector<kv4sim_value_cap> caps;
    uint8_t id = 1;
    for (uint16_t size : input_sizes)
        caps.push_back({KV4SIM_INPUT, static_cast<uint16_t>(0x100 + id), id, size}), ++id;
    for (uint16_t size : output_sizes)
        caps.push_back({KV4SIM_OUTPUT, static_cast<uint16_t>(0x100 + id), id, size}), ++id;
    for (uint16_t size : feature_sizes)
        caps.push_back({KV4SIM_FEATURE, static_cast<uint16_t>(0x100 + id), id, size}), ++id;
    return caps;
}

} // namespace kv4test
