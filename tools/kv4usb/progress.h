// Progress of a block transfer: on a terminal a bar redrawn in place with the share done, the bytes
// and the rate; otherwise a plain line at each quarter ("read 16384/65536 bytes") so that logs
// stay short.
#pragma once

#include "console.h"

#include <chrono>
#include <cstdint>

namespace kv4usb {

// Only advanced for a transfer of at least one byte.
class progress {
  public:
    progress(console &io, const char *verb, uint64_t total) : io_(io), verb_(verb), total_(total) {}
    // A bar cut short by a failure still gets its line ended, so that the error starts a line of its own.
    ~progress();
    progress(const progress &) = delete;
    progress &operator=(const progress &) = delete;

    void advance(uint64_t bytes);

  private:
    void draw_bar() const;
    void print_line() const;

    console &io_;
    const char *verb_;
    uint64_t total_;
    uint64_t done_ = 0;
    unsigned quarters_shown_ = 0;
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
};

} // namespace kv4usb
