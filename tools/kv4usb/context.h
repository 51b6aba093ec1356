// What a command runs with: the console, and the library session, started on first use so that
// a command whose arguments are wrong never touches the library. Commands run one after another
// in one invocation share it, and with it the simulated monitors.
#pragma once

#include "console.h"
#include "session.h"

#include <optional>

namespace kv4usb {

class context {
  public:
    context(console &console_io, library_loader load, std::optional<unsigned> simulated)
        : io(console_io), load_(load), simulated_(simulated)
    {
    }

    session &connect(monitors need = monitors::required)
    {
        if (!session_)
            session_.emplace(io, load_, simulated_, need);
        else
            session_->require(io, need);
        return *session_;
    }
    bool simulated() const noexcept { return simulated_.has_value(); }

    console &io;

  private:
    library_loader load_;
    std::optional<unsigned> simulated_;
    std::optional<session> session_;
};

} // namespace kv4usb
