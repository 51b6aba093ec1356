// One run of the library: the library loaded and started, the monitors discovered; and at the end
// every port shut down and the simulated monitors it plugged in removed again.
#pragma once

#include "console.h"
#include "library.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace kv4usb {

// What a command needs of the monitors.
enum class monitors {
    required,       // the monitors attached; none is a failure
    or_simulated,   // the monitors attached, else one simulated monitor (the demo alone)
    left_to_events, // none opened: an event registration reports them as the library opens them
};

class session {
  public:
    // simulated: the number of simulated monitors to plug in on the simulator library, or none
    // for the production library and the monitors attached.
    session(console &io, library_loader load, std::optional<unsigned> simulated, monitors need);
    ~session();
    session(const session &) = delete;
    session &operator=(const session &) = delete;

    // For a later command of the same run that needs what the first one did not ask for.
    void require(console &io, monitors need);

    const std::vector<uint16_t> &ports() const noexcept { return ports_; }
    // Plugs in one more simulated monitor, removed with the others when the session ends.
    kv4sim_monitor *attach_simulated();
    // The simulated monitors it plugged in, in that order (none on the production library).
    const std::vector<kv4sim_monitor *> &simulated_monitors() const noexcept { return monitors_; }

  private:
    void start(library_kind kind);
    void use_simulator(unsigned count);
    void discover(console &io, monitors need);
    void end() noexcept;

    library_loader load_;
    std::vector<uint16_t> ports_;
    std::vector<kv4sim_monitor *> monitors_;
    bool started_ = false;
    bool discovered_ = false;
};

} // namespace kv4usb
