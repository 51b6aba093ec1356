// HID device services: how the core reaches a HID device. One implementation per backend
// (win32/: hid.dll, setupapi.dll and kernel32 file I/O; sim/: the simulated bus; linux/: hidraw).
// The core calls the active backend through hid(); the production library installs its OS backend
// at load, the simulator library the simulated bus, and test programs may switch between them
// with set_hid_services() while no device is open.
//
// Contract every backend keeps (the core relies on nothing more):
// - Calls may come from any thread, several at once; a backend locks what it shares itself.
// - The core calls no operation on a handle after close(handle), and closes a handle at most once.
//   close() cancels pending transfers on the handle first; their events are signalled.
// - A transfer moves one whole report of exactly the given length, report ID in byte 0.
// - Starting a transfer resets the record's event; its completion signals it (also when it fails
//   or is cancelled). The buffer must stay valid until the transfer completed or the handle closed.
// - Strings are UTF-16, terminated when they fit; the capacity is in bytes (the core passes 125).
#pragma once

#include "platform/platform.h"

#include <cstddef>
#include <cstdint>

namespace kv4 {

struct hid_device_object;
using hid_handle = hid_device_object *; // null is "no handle" (INVALID_HANDLE_VALUE on Windows)

constexpr uint32_t error_sharing_violation = 32; // another handle holds the device
constexpr uint32_t error_io_pending = 997;       // a transfer was started and has not completed

enum class hid_access {
    probe,    // read only, for identification (no transfers)
    transfer, // read and write, overlapped
};

// HID parser's report types, numbered as the parser numbers them.
enum class hid_report_type { input = 0, output = 1, feature = 2 };

// The counts of value capabilities per report type (from HidP_GetCaps).
struct hid_caps {
    uint16_t input_value_caps = 0;
    uint16_t output_value_caps = 0;
    uint16_t feature_value_caps = 0;
};

// One value capability as the HID parser reports it; for a usage range, the first usage.
struct hid_value_cap {
    uint16_t usage = 0;
    uint8_t report_id = 0;
    uint16_t report_count = 0;
};

// The overlapped record of one direction of transfers. The core owns it and its event; the
// backend keeps its per-transfer state in `os` (an OVERLAPPED on Windows).
struct hid_transfer {
    event_handle event = nullptr;
    alignas(8) unsigned char os[48] = {};
};

enum class hid_io {
    completed, // done at once, or (outcome) done since
    pending,   // started, not done yet (last error 997)
    failed,    // refused outright; the device is unusable
};

struct hid_preparsed_object;
using hid_preparsed = hid_preparsed_object *;

class hid_services {
public:
    virtual ~hid_services() = default;

    // Calls visit(path, context) for every HID interface present, in the system's order. False
    // when the set of present interfaces cannot be obtained.
    virtual bool list_paths(void (*visit)(const char *path, void *context), void *context) = 0;
    // The device check: the interface named by path is present and its device description can be
    // read.
    virtual bool check_present(const char *path) = 0;

    // Opens the device at path without sharing. On failure returns null and stores the last
    // error (error_sharing_violation while another handle holds the device).
    virtual hid_handle open(const char *path, hid_access access, uint32_t *last_error) = 0;
    virtual void close(hid_handle handle) = 0;

    // Strings into buffer (capacity in bytes); false when the device refuses.
    virtual bool product_string(hid_handle handle, uint16_t *buffer, std::size_t capacity) = 0;
    virtual bool serial_string(hid_handle handle, uint16_t *buffer, std::size_t capacity) = 0;
    virtual bool indexed_string(hid_handle handle, unsigned index, uint16_t *buffer, std::size_t capacity) = 0;
    virtual bool product_id(hid_handle handle, uint16_t *product_id) = 0;

    // Capabilities: fetch the parsed report descriptor, read its counts and value capabilities,
    // free it. value_caps fills at most *count entries and stores the number delivered in *count;
    // false when the parser does not deliver them.
    virtual hid_preparsed get_preparsed(hid_handle handle) = 0;
    virtual bool get_caps(hid_preparsed preparsed, hid_caps *caps) = 0;
    virtual bool get_value_caps(hid_preparsed preparsed, hid_report_type type, hid_value_cap *caps,
                                uint16_t *count) = 0;
    virtual void free_preparsed(hid_preparsed preparsed) = 0;

    // Discards the input reports queued for the handle.
    virtual bool flush_input(hid_handle handle) = 0;
    // Sends a feature report (report ID in byte 0) and waits for the driver; false on failure.
    virtual bool set_feature(hid_handle handle, const uint8_t *buffer, uint16_t length) = 0;

    // Starts writing or reading one report of length bytes with the transfer record.
    virtual hid_io start_write(hid_handle handle, const uint8_t *buffer, uint16_t length, hid_transfer *transfer) = 0;
    virtual hid_io start_read(hid_handle handle, uint8_t *buffer, uint16_t length, hid_transfer *transfer) = 0;
    // The outcome of the record's last transfer, without waiting.
    virtual hid_io outcome(hid_handle handle, hid_transfer *transfer) = 0;
    // Cancels every pending transfer on the handle; their events are signalled.
    virtual void cancel_io(hid_handle handle) = 0;
};

// The active backend.
hid_services &hid() noexcept;
void set_hid_services(hid_services *services) noexcept;

} // namespace kv4
