// kv4usb's command line: the options, the command and its arguments, and the exit status.
#pragma once

#include "console.h"
#include "library.h"

#include <string>
#include <vector>

namespace kv4usb {

// Exit statuses.
constexpr int exit_ok = 0;
constexpr int exit_failure = 1; // the library, the monitor, a file or a comparison failed
constexpr int exit_usage = 2;   // the command line is wrong

// Runs kv4usb with the arguments that follow the program's name, on the library load gives: one
// command, or several separated by "--" on one session. The library is stopped again before it
// returns; the first command that fails ends the run with its status.
int run(const std::vector<std::string> &args, console &io, library_loader load);

} // namespace kv4usb
