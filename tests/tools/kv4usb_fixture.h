// Runs kv4usb in this process against the simulated bus and collects what it prints. Every test
// starts from a clean bus and leaves the library stopped and the default backend in place.
#pragma once

#include "cli.h"
#include "kv4usbcp.h"
#include "kv4usbcp_sim.h"
#include "platform/hid_services.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace kv4test {

struct kv4usb_result {
    int status;
    std::string out;
    std::string err;
};

class Kv4usbTest : public ::testing::Test {
  protected:
    void SetUp() override { kv4sim_reset(); }
    void TearDown() override
    {
        tkcmdsetUSB_shutdown_all();
        kv4sim_reset();
        kv4::set_hid_services(nullptr);
    }

    static kv4usb_result run_kv4usb(const std::vector<std::string> &args, bool terminal = false)
    {
        std::ostringstream out, err;
        kv4usb::console io{out, err, terminal};
        const int status = kv4usb::run(args, io);
        return {status, out.str(), err.str()};
    }
};

inline bool contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

} // namespace kv4test
