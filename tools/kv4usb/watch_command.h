// The command that prints monitors and volumes as they arrive and leave.
#pragma once

#include "arguments.h"
#include "context.h"

#include <cstdint>
#include <string>

namespace kv4usb {

int run_watch(context &ctx, const arguments &args);

// The drive a volume event names: the lowest drive of its unit mask ("E:"). The mask carries
// drives A: to P: only, so 0 means a drive past P:.
std::string drive_name(uint16_t unitmask);

} // namespace kv4usb
