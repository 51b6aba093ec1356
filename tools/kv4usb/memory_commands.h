// Commands that move a memory region between a monitor and a file, or compare the two.
#pragma once

#include "arguments.h"
#include "context.h"
#include "regions.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kv4usb {

int run_read(context &ctx, const arguments &args);
int run_write(context &ctx, const arguments &args);
int run_verify(context &ctx, const arguments &args);

// Reads the region back and compares it with expected, which came from source (a file name or
// a description); a difference is a tool_failure naming the first differing address.
void verify_region(console &io, uint16_t port, const region &r, uint32_t address, const std::vector<uint8_t> &expected,
                   const std::string &source);

} // namespace kv4usb
