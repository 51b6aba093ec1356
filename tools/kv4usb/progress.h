// Progress of a block transfer: a bar redrawn in place on a terminal, otherwise a few plain lines
// ("read 16384/65536 bytes") so that logs stay short.
#pragma once

#include "console.h"

#include <cstdint>

namespace kv4usb {

// Only advanced for a transfer of at least one byte.
class progress {
  public:
    progress(console &io, const char *verb, uint64_t total) : io_(io), verb_(verb), total_(total) {}
    void advance(uint64_t bytes);

  private:
    void draw_bar() const;
    void print_line() const;

    console &io_;
    const char *verb_;
    uint64_t total_;
    uint64_t done_ = 0;
    unsigned quarters_shown_ = 0;
};

} // namespace kv4usb
