// Where kv4usb writes: reports and progress to out, failures and notices to err.
#pragma once

#include <ostream>

namespace kv4usb {

struct console {
    std::ostream &out;
    std::ostream &err;
    bool out_is_terminal = false; // draw progress as a bar redrawn in place, else as plain lines
};

} // namespace kv4usb
