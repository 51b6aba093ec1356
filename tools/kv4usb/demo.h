// The guided session for newcomers: what the library does, step by step, on the monitor attached
// or on a simulated one.
#pragma once

#include "arguments.h"
#include "context.h"

#include <cstdint>
#include <vector>

namespace kv4usb {

int run_demo(context &ctx, const arguments &args);

// The sample firmware image the demo puts into the simulated monitor's flash before reading it.
std::vector<uint8_t> demo_flash_image();

} // namespace kv4usb
