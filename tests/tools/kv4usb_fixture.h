// Runs kv4usb in this process against the simulated bus and collects what it prints. Every test
// starts from a clean bus and leaves the library stopped.
#pragma once

#include "cli.h"
#include "library.h"

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
    void SetUp() override
    {
        kv4sim_reset();
        loaded.clear();
    }
    void TearDown() override
    {
        tkcmdsetUSB_shutdown_all();
        kv4sim_reset();
    }

    // The library this program links, on the simulated bus, whichever kind kv4usb asks for: the
    // monitors a test plugs in are the ones kv4usb finds. Records the kinds asked for.
    static const kv4usb::library &linked_library(kv4usb::library_kind kind)
    {
        static kv4usb::library linked;
#define KV4TEST_LINK_LIBRARY(call) linked.usb.call = &tkcmdsetUSB_##call;
#define KV4TEST_LINK_SIMULATOR(call) linked.sim.call = &kv4sim_##call;
        KV4USB_LIBRARY_CALLS(KV4TEST_LINK_LIBRARY)
        KV4USB_SIMULATOR_CALLS(KV4TEST_LINK_SIMULATOR)
        loaded.push_back(kind);
        return linked;
    }
    static inline std::vector<kv4usb::library_kind> loaded;

    static kv4usb_result run_kv4usb(const std::vector<std::string> &args, bool terminal = false)
    {
        std::ostringstream out, err;
        kv4usb::console io{out, err, terminal};
        const int status = kv4usb::run(args, io, linked_library);
        return {status, out.str(), err.str()};
    }
};

inline bool contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

} // namespace kv4test
