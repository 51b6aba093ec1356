// One simulated monitor presented to the kernel as a HID device through /dev/uhid. The answers
// come from the simulator's own monitor model; this only carries reports between it and the kernel.
#pragma once

#include "platform/sim/monitor.h"

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace kv4sim_uhid {

class uhid_monitor {
  public:
    // number names the monitor in commands and in its default serial (SIM0000n).
    uhid_monitor(unsigned number, uint16_t vendor_id, std::ostream &log);
    ~uhid_monitor() { unplug(); }
    uhid_monitor(const uhid_monitor &) = delete;
    uhid_monitor &operator=(const uhid_monitor &) = delete;

    // Creates the kernel device (an arrival); false with the reason logged.
    bool plug();
    // Destroys it (a removal); the model keeps its memories, so a replug finds them again.
    void unplug() noexcept;
    bool plugged() const noexcept { return fd_ >= 0; }
    // The uhid descriptor to poll while plugged.
    int fd() const noexcept { return fd_; }
    // Reads one event from the kernel and answers it; false when the device is gone.
    bool handle_event();

    unsigned number() const noexcept { return number_; }
    // A monitor that takes frames and never answers, as one whose firmware hangs.
    bool quiet = false;
    bool verbose = false;

  private:
    void answer_output(const uint8_t *report, std::size_t length);
    bool send(const void *event, std::size_t size);
    void announce_node();

    const unsigned number_;
    const uint16_t vendor_id_;
    std::ostream &log_;
    kv4::sim::monitor model_;
    const std::vector<uint8_t> descriptor_;
    const std::string phys_;
    int fd_ = -1;
    std::map<uint8_t, std::vector<uint8_t>> features_; // the last feature report set under each ID
};

} // namespace kv4sim_uhid
