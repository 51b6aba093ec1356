// A HID report descriptor written from a monitor's report layout, so that a real HID stack parses
// it back into the same value capabilities the simulated bus reports.
#pragma once

#include "kv4usbcp_sim.h"

#include <cstdint>
#include <vector>

namespace kv4sim_uhid {

// One vendor-defined application collection; each capability becomes one main item of 8-bit
// values under its own report ID and usage, so a parser yields it as one value capability with
// that report count.
std::vector<uint8_t> report_descriptor(const std::vector<kv4sim_value_cap> &caps);

} // namespace kv4sim_uhid
