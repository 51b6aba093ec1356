// Helpers for tests that drive the simulated bus's HID services directly, below the library.
#pragma once

#include "kv4usbcp_sim.h"
#include "platform/hid_services.h"

#include <gtest/gtest.h>

#include <deque>
#include <vector>

namespace kv4 {
hid_services &sim_hid_services() noexcept;
}

namespace kv4test {

using Bytes = std::vector<uint8_t>;

class SimBus : public ::testing::Test {
  protected:
    void SetUp() override { kv4sim_reset(); }
    void TearDown() override
    {
        kv4sim_reset();
        for (kv4::hid_transfer &t : transfers_)
            kv4::event_close(t.event);
    }

    kv4::hid_handle open(const kv4sim_monitor *m, kv4::hid_access access = kv4::hid_access::transfer,
                         uint32_t *error = nullptr)
    {
        return hid.open(kv4sim_path(m), access, error);
    }
    // A transfer record with its own event; the fixture closes the events.
    kv4::hid_transfer *transfer()
    {
        transfers_.emplace_back();
        transfers_.back().event = kv4::event_create();
        return &transfers_.back();
    }

    kv4::hid_services &hid = kv4::sim_hid_services();

  private:
    std::deque<kv4::hid_transfer> transfers_;
};

} // namespace kv4test
