// The Linux HID backend: monitors as hidraw nodes (/dev/hidrawN), described by sysfs through
// libudev.
//
// - A device's path is its node's sysfs path, /sys/devices/.../0003:1209:0001.000A/hidraw/hidraw3,
//   not the node's own: the kernel gives a new HID device the lowest free node, so /dev/hidraw3
//   names whatever was plugged in last, while the HID device's name above it carries a number the
//   kernel counts up for every device it adds. So a path names one plug of one device, as a
//   Windows interface path names one device, and the core, which goes by path, never takes
//   another device for the one that left the node. Opening a path opens its node and keeps it
//   only if the device the path names still has that node.
// - Opening takes an advisory lock (flock) on the node besides the descriptor: hidraw lets any
//   number of readers open a node, and the library's rule is that a device has one user at a
//   time. A node locked by another handle, of this process or of another that plays by the same
//   rule, fails with error_sharing_violation, as Windows fails a second open without sharing.
// - Strings: a HID device on USB takes its product and serial from the USB device's attributes
//   (the kernel's HID name puts the manufacturer in front of the product); any other (uhid,
//   Bluetooth) from the HID device's HID_NAME and HID_UNIQ. Indexed strings are USB string
//   descriptors read from the USB device's usbfs node; a HID device without one refuses them.
// - Transfers move whole reports through the node. A hidraw write blocks until the device took
//   the report (usbhid waits up to 5 s for the interrupt OUT transfer), O_NONBLOCK or not, so a
//   handle's writes go through a writer thread of its own, started at its first write: start_write
//   queues the record and returns, the writer writes a copy of the report and then ends the record
//   as a read is ended (outcome, then the event). A cancel ends a queued write unsent and a write
//   already in the kernel at once, as failed: nothing can take that report back, but the record
//   and its buffer are free again, and the writer alone waits for the kernel (its next write
//   follows once the kernel is done). A monitor that takes that report late may answer it, as
//   after a cancel that lost the race on Windows. A write takes the length of the report with the
//   buffer's report ID, as Windows sends a report, not the longest report's length. A read
//   attaches the node to the transfer's event (event_source.h): the thread that waits for the
//   event reads the report once the node is readable. The bytes after a report shorter than the
//   buffer are zeroed, as Windows hands out every input report at the longest one's length. A
//   device that numbers no reports sends them without an ID byte: the read puts a 0 in front, as
//   Windows does (and a write's leading 0 the kernel drops).
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

struct hidraw_writer;

struct hid_device_object {
    int fd = -1;
    std::atomic<hidraw_writer *> writer{nullptr}; // from the first write on
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

// Reads one report off the node into buffer (length bytes, at least 1) as Windows hands reports
// out: the report ID in byte 0, a 0 put there for a device that numbers none (numbered false),
// zeros after a report shorter than the buffer. What read() returned.
ssize_t read_report(int fd, uint8_t *buffer, std::size_t length, bool numbered) noexcept;

// Ends the handle's writer. False when it has ended (or never ran): the caller closes the node and
// frees the handle. True while the kernel still holds a write: the writer does both once it
// returns.
bool hand_over_to_writer(hid_device_object *handle) noexcept;

// Windows's numbers for what an errno says.
uint32_t windows_error(int error) noexcept;
// Held for every use of libudev, whose hidden state is not safe between threads.
std::mutex &udev_guard() noexcept;

class hidraw_services final : public hid_services {
  public:
    void list_paths(void (*visit)(const char *path, void *context), void *context) override;
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
