// One HID report of a port, as the report tables hold it.
#pragma once

#include <cstdint>

namespace kv4 {

struct report_entry {
    uint8_t report_id = 0; // byte 0 of every report buffer sent or read with this entry
    uint16_t usage = 0;    // key of the entry within its table
    uint16_t size = 0;     // payload bytes after the report ID
};

} // namespace kv4
