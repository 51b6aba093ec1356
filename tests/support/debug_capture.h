// Collects the library's debug lines while it is in scope.
#pragma once

#include "platform/platform.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

namespace kv4test {

class debug_capture {
  public:
    debug_capture() { kv4::set_debug_sink(&debug_capture::receive, this); }
    ~debug_capture() { kv4::set_debug_sink(nullptr, nullptr); }
    debug_capture(const debug_capture &) = delete;
    debug_capture &operator=(const debug_capture &) = delete;

    std::size_t count(const std::string &line) const
    {
        std::lock_guard<std::mutex> guard(mutex_);
        return static_cast<std::size_t>(std::count(lines_.begin(), lines_.end(), line));
    }

  private:
    static void receive(void *context, const char *line)
    {
        auto *self = static_cast<debug_capture *>(context);
        std::lock_guard<std::mutex> guard(self->mutex_);
        self->lines_.emplace_back(line);
    }
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

} // namespace kv4test
