// The commands kv4usb knows, with their usage and help.
#pragma once

#include "arguments.h"
#include "context.h"

#include <cstddef>
#include <ostream>
#include <string>

namespace kv4usb {

struct command {
    const char *name;
    const char *synopsis; // its arguments, as the usage line shows them
    const char *summary;  // one line for the overview
    const char *details;  // the rest of its help; may be empty
    std::size_t min_args;
    std::size_t max_args;
    int (*run)(context &ctx, const arguments &args);
    const char *option = nullptr; // the one option of its own it takes, as name=VALUE ("--count"); may be null
};

// The command of that name, or null.
const command *find_command(const std::string &name);

void print_overview(std::ostream &out);
void print_usage_line(std::ostream &out, const command &c);
void print_command_help(std::ostream &out, const command &c);

} // namespace kv4usb
