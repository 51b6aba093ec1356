// One simulated monitor presented as a real USB device: a configfs gadget with the kernel's HID
// function (usb_f_hid) bound to a USB device controller, its reports carried through /dev/hidgN.
// On dummy_hcd's controller this machine's own usbhid enumerates it like a monitor on a USB
// port: descriptors, string descriptors and transfers all go through the USB stack, which uhid
// leaves out.
//
// String descriptor indices, as the host reads them (composite numbers strings in the order it
// meets them when binding: the device's three, then for each configuration its own string and
// after it the strings of its functions, and each HID function takes two, "HID Interface" and an
// empty one that no descriptor names):
//   1 manufacturer, 2 product, 3 serial number,
//   4 firmware version (configuration 1), 5 "HID Interface", 6 empty,
//   7 hardware version (configuration 2), 8 "HID Interface", 9 empty,
//   10 boot-loader version (configuration 3), 11 "HID Interface", 12 empty.
// A monitor has the versions at 4, 5 and 6, but a configuration needs a function and the HID
// function's strings cannot be left out, so only the firmware version is where a monitor has it.
// One HID function cannot be linked into two configurations (both would make the same hidgN), so
// each configuration has its own, and all of them are served: the host uses configuration 1
// unless told otherwise.
//
// Output and feature reports both arrive as SET_REPORT control transfers (the function has no
// interrupt OUT endpoint, or it would stall feature reports), so what a read returns is told apart
// by its report ID in the monitor's layout. The function keeps one such report until it is read,
// so one sent before the last was read replaces it. GET_REPORT is answered by the kernel with
// zeros.
#pragma once

#include "served_monitor.h"

namespace kv4sim_uhid {

class gadget_monitor final : public served_monitor {
  public:
    // udc: the controller to bind to, as /sys/class/udc names it.
    gadget_monitor(unsigned number, uint16_t vendor_id, std::string udc, std::ostream &log);
    // Unbinds and removes the gadget.
    ~gadget_monitor() override;

    // Makes the gadget the first time, binds it to the controller and waits for its hidraw node.
    bool plug() override;
    // Unbinds it: the host sees the device leave.
    void unplug() noexcept override;
    bool plugged() const noexcept override { return !nodes_.empty(); }
    // The /dev/hidgN of every configuration.
    void poll_fds(std::vector<int> &fds) const override { fds.insert(fds.end(), nodes_.begin(), nodes_.end()); }
    // Reads one report from a hidgN node and answers it there.
    bool handle(int fd) override;

  private:
    bool make();
    void remove() noexcept;
    // Binds to the controller and opens the function's nodes; unbinds again if one will not open.
    bool bind();
    void release() noexcept;
    void announce_node();

    const std::string udc_, dir_;
    bool made_ = false;
    std::vector<int> nodes_;
    std::string usb_device_; // the host side's sysfs directory, once found
};

} // namespace kv4sim_uhid
