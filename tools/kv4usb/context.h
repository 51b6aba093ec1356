// What a command runs with: the console, and the library session, started on first use so that
// a command whose arguments are wrong never touches the library.
#pragma once

#include "console.h"
#include "session.h"

#include <optional>

namespace kv4usb {

class context {
  public:
    context(console &console_io, std::optional<unsigned> simulated) : io(console_io), simulated_(simulated) {}

    // open_monitors: see session's constructor; only the first call's choice counts.
    session &connect(bool open_monitors = true)
    {
        if (!session_)
            session_.emplace(io, simulated_, open_monitors);
        return *session_;
    }
    bool simulated() const noexcept { return simulated_.has_value(); }

    console &io;

  private:
    std::optional<unsigned> simulated_;
    std::optional<session> session_;
};

} // namespace kv4usb
