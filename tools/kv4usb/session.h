// One run of the library: the HID backend chosen, the library started, the monitors discovered;
// and at the end every port shut down and the simulated monitors it plugged in removed again.
#pragma once

#include "console.h"

#include "kv4usbcp_sim.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace kv4usb {

class session {
  public:
    // simulated: the number of simulated monitors to plug in, or none to use the operating
    // system's monitors, falling back to one simulated monitor when there are none.
    // open_monitors false starts the library alone, with no discovery and no fallback: the
    // monitors are left to an event registration, which reports them as it opens them.
    session(console &io, std::optional<unsigned> simulated, bool open_monitors = true);
    ~session();
    session(const session &) = delete;
    session &operator=(const session &) = delete;

    const std::vector<uint16_t> &ports() const noexcept { return ports_; }
    // The simulated monitors it plugged in, in that order (none on the operating system's backend).
    const std::vector<kv4sim_monitor *> &simulated_monitors() const noexcept { return monitors_; }

  private:
    void start(console &io, std::optional<unsigned> simulated, bool open_monitors);
    void use_simulator(unsigned count, bool open_monitors);
    void discover();
    void end() noexcept;

    std::vector<uint16_t> ports_;
    std::vector<kv4sim_monitor *> monitors_;
    bool simulator_selected_ = false;
};

} // namespace kv4usb
