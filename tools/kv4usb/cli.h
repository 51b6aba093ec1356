// kv4usb's command line: the options, the command and its arguments, and the exit status.
#pragma once

#include "console.h"

#include <string>
#include <vector>

namespace kv4usb {

// Exit statuses.
constexpr int exit_ok = 0;
constexpr int exit_failure = 1; // the library, the monitor, a file or a comparison failed
constexpr int exit_usage = 2;   // the command line is wrong

// Runs kv4usb with the arguments that follow the program's name. The library is stopped again,
// and the HID backend put back, before it returns.
int run(const std::vector<std::string> &args, console &io);

} // namespace kv4usb
