// One simulated monitor presented to the kernel as a HID device through /dev/uhid.
#pragma once

#include "served_monitor.h"

namespace kv4sim_uhid {

class uhid_monitor final : public served_monitor {
  public:
    uhid_monitor(unsigned number, uint16_t vendor_id, std::ostream &log);
    ~uhid_monitor() override { unplug(); }

    // Creates the kernel device.
    bool plug() override;
    // Destroys it.
    void unplug() noexcept override;
    bool plugged() const noexcept override { return fd_ >= 0; }
    // The uhid descriptor.
    void poll_fds(std::vector<int> &fds) const override { fds.push_back(fd_); }
    // Reads one event from the kernel and answers it.
    bool handle(int fd) override;

  private:
    void reply_output(const uint8_t *report, std::size_t length);
    bool send(const void *event, std::size_t size);
    void announce_node();

    const std::string phys_;
    int fd_ = -1;
};

} // namespace kv4sim_uhid
