// The command that keeps asynchronous status exchanges going on monitors and measures them.
#pragma once

#include "arguments.h"
#include "context.h"

namespace kv4usb {

int run_poll(context &ctx, const arguments &args);

} // namespace kv4usb
