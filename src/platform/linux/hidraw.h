// The Linux HID backend: monitors as hidraw nodes (/dev/hidrawN), described by sysfs through
// libudev. Paths are the nodes' paths.
//
// - Opening takes an advisory lock (flock) on the node besides the descriptor: hidraw lets any
//   number of readers open a node, and the library's rule is that a device has one user at a
//   time. A node locked by another handle, of this process or of another that plays by the same
//   rule, fails with error_sharing_violation, as Windows fails a second open without sharing.
// - Strings: a HID device on USB takes its product and serial from the USB device's attributes
//   (the kernel's HID name puts the manufacturer in front of the product); any other (uhid,
//   Bluetooth) from the HID device's HID_NAME and HID_UNIQ. Indexed strings are USB string
//   descriptors read from the USB device's usbfs node; a HID device without one refuses them.
// - Transfers move whole reports through the node. A write goes to the kernel at once, which for
//   USB waits for the interrupt OUT transfer: it completes before start_write returns. It takes
//   the length of the report with the buffer's report ID, as Windows sends a report, not the
//   longest report's length. A read attaches the node to the transfer's event (event_source.h):
//   the thread that waits for the event reads the report once the node is readable. The bytes
//   after a report shorter than the buffer are zeroed, as Windows hands out every input report at
//   the longest one's length.
// - Plug events come from a libudev monitor of the hidraw subsystem: the udev daemon's events when
//   one runs (so that the node's permissions are set before the library opens it), the kernel's
//   otherwise. Volumes: none. What a Windows host is told of a volume is a drive letter, which a
//   Linux mount has no counterpart of, so this backend knows no volume and sends no volume event.
#pragma once

#include "platform/hid_services.h"
#include "platform/linux/event_source.h"
#include "platform/linux/hid_report_descriptor.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <sys/types.h>

namespace kv4 {

struct hid_device_object {
    int fd = -1;
    dev_t node = 0;                 // the node's device number, to find it in sysfs
    std::atomic<uint32_t> error{0}; // the last error, as Windows would number it
    descriptor_caps descriptor;     // parsed at open
    bool described = false;         // the descriptor was read and parsed
};

// A transfer's state, in the record's os bytes. Zeroed bytes read as a completed transfer.
struct hidraw_transfer {
    event_source source;             // first: ready() finds the transfer from it
    std::atomic<uint8_t> outcome{0}; // hid_io
    uint8_t *buffer = nullptr;
    uint16_t length = 0;
    hid_device_object *device = nullptr; // valid while the source is attached: a close cancels first
};

// The length a report goes out with: that of the report with the buffer's ID (own_lengths, by ID,
// 0 where the descriptor has none), unless the buffer is shorter.
inline uint16_t sent_length(const uint16_t (&own_lengths)[256], const uint8_t *buffer, uint16_t length)
{
    const uint16_t own = own_lengths[buffer[0]];
    return own && own < length ? own : length;
}

// Windows's numbers for what an errno says.
uint32_t windows_error(int error) noexcept;
// Held for every use of libudev, whose hidden state is not safe between threads.
std::mutex &udev_guard() noexcept;

class hidraw_services final : public hid_services {
  public:
    bool list_paths(void (*visit)(const char *path, void *context), void *context) override;
    bool check_present(const char *path) override;
    hid_handle open(const char *path, hid_access access, uint32_t *last_error) override;
    void close(hid_handle handle) override;
    uint32_t last_error(hid_handle handle) override;
    bool product_string(hid_handle handle, uint16_t *buffer, std::size_t capacity) override;
    bool serial_string(hid_handle handle, uint16_t *buffer, std::size_t capacity) override;
    bool indexed_string(hid_handle handle, unsigned index, uint16_t *buffer, std::size_t capacity) override;
    bool product_id(hid_handle handle, uint16_t *product_id) override;
    hid_preparsed get_preparsed(hid_handle handle) override;
    bool get_caps(hid_preparsed preparsed, hid_caps *caps) override;
    bool get_value_caps(hid_preparsed preparsed, hid_report_type type, hid_value_cap *caps, uint16_t *count) override;
    void free_preparsed(hid_preparsed preparsed) override;
    bool flush_input(hid_handle handle) override;
    bool set_feature(hid_handle handle, const uint8_t *buffer, uint16_t length) override;
    void cancel_transfer(hid_handle handle, hid_transfer *transfer) override;
    void cancel_io(hid_handle handle) override;
    bool watch_plug_events(bool watch) override;
    bool volume_name(const char *, char *, uint32_t) override { return false; }
    bool volume_label(const char *, char *, uint32_t) override { return false; }

  protected:
    hid_io platform_start_write(hid_handle handle, const uint8_t *buffer, uint16_t length,
                                hid_transfer *transfer) override;
    hid_io platform_start_read(hid_handle handle, uint8_t *buffer, uint16_t length, hid_transfer *transfer) override;
    hid_io platform_outcome(hid_transfer *transfer) override;
};

} // namespace kv4
