// The baseline: one write and one read through the HID services seam, without the library.
#pragma once

#include "kv4usbcp_sim.h"
#include "platform/hid_services.h"

#include <cstdint>
#include <vector>

namespace kv4bench {

class bare_exchange {
public:
    // Opens the simulated monitor for transfers; transfer_length as the library would compute
    // it for the default layout.
    explicit bare_exchange(kv4sim_monitor *monitor, uint16_t transfer_length = 501);
    ~bare_exchange();
    bare_exchange(const bare_exchange &) = delete;
    bare_exchange &operator=(const bare_exchange &) = delete;

    // Writes frame in report output_id and reads the answer; copies response_length bytes.
    bool run(uint8_t output_id, const uint8_t *frame, uint16_t length, uint8_t *response, uint16_t response_length);

private:
    bool await(kv4::hid_io started);
    kv4::hid_handle handle_ = nullptr;
    kv4::hid_transfer transfer_;
    std::vector<uint8_t> buffer_;
};

} // namespace kv4bench
