// One simulated monitor presented as a real USB device: a configfs gadget with one FunctionFS
// function (usb_f_fs) bound to a USB device controller, served by this program through the
// function's ep0 and endpoint files. On dummy_hcd's controller this machine's own usbhid
// enumerates it like a monitor on a USB port: descriptors, string descriptors and transfers all go
// through the USB stack, which uhid leaves out.
//
// String descriptor indices, as the host reads them (composite numbers strings in the order it
// meets them when binding: the device's three, then the configuration's own, then its function's):
//   1 manufacturer, 2 product, 3 serial number,
//   4 firmware version (the configuration's string),
//   5 hardware version (the interface's string), 6 boot-loader version,
// where a monitor has them. FunctionFS numbers only as many of its strings as its descriptors name,
// so the boot-loader version is named by an interface association descriptor over the one
// interface; the host takes no notice of it otherwise.
//
// The interface is HID: a class descriptor with the report descriptor's length, an interrupt IN
// endpoint for answers and an interrupt OUT endpoint for output reports. Control requests to the
// interface come here: the report descriptor, SET_IDLE, SET_REPORT (output reports go to the
// model, feature reports are kept) and GET_REPORT (a feature report reads back as it was set).
// Endpoint transfers are asynchronous (Linux AIO, completions on an eventfd), so that an answer
// the host has not fetched blocks nothing.
#pragma once

#include "served_monitor.h"

#include <linux/aio_abi.h>
#include <linux/usb/ch9.h>

namespace kv4sim_uhid {

class gadget_monitor final : public served_monitor {
  public:
    // udc: the controller to bind to, as /sys/class/udc names it.
    gadget_monitor(unsigned number, uint16_t vendor_id, std::string udc, std::ostream &log);
    // Unbinds and removes the gadget, its function's file system included.
    ~gadget_monitor() override;

    // Makes the gadget the first time, binds it to the controller and waits for its hidraw node.
    bool plug() override;
    // Unbinds it: the host sees the device leave.
    void unplug() noexcept override;
    bool plugged() const noexcept override { return bound_; }
    // ep0 (events and control requests) and the eventfd of endpoint transfers.
    void poll_fds(std::vector<int> &fds) const override { fds.insert(fds.end(), {ep0_, done_}); }
    bool handle(int fd) override;
    // The OUT endpoint is not read meanwhile; the read waiting on it is cancelled.
    bool take_no_reports(bool on) override;

  private:
    bool make();
    // Mounts the function's file system, gives it descriptors and strings, opens its endpoints.
    bool start_function();
    void remove() noexcept;
    void release() noexcept;
    void announce_node();
    // Serves whatever arrives within ms milliseconds.
    void serve_for(int ms);
    bool event();
    void control(const usb_ctrlrequest &setup);
    // The data stage of an IN request; stalls when data is null.
    void reply(const uint8_t *data, std::size_t length);
    void completed();
    void read_output();
    void send_input(const uint8_t *report, std::size_t length);
    bool submit(iocb &io, int fd, uint16_t opcode, uint8_t *buffer, std::size_t length);
    void log_error(const char *what) const;

    const std::string udc_, dir_, instance_;
    std::string mount_; // where the function's file system is mounted, once it is
    bool made_ = false, bound_ = false, enabled_ = false, unbound_ = false, deaf_ = false;
    int ep0_ = -1, in_ = -1, out_ = -1, done_ = -1;
    aio_context_t aio_ = 0;
    iocb in_io_{}, out_io_{};
    bool in_busy_ = false, out_busy_ = false;
    std::vector<uint8_t> in_buffer_, out_buffer_;
    std::string usb_device_; // the host side's sysfs directory, once found
};

} // namespace kv4sim_uhid
