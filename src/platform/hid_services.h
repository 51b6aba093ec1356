// HID device services: how the core reaches a HID device. One implementation per backend
// (win32/: hid.dll, setupapi.dll and kernel32 file I/O; sim/: the simulated bus; linux/: hidraw).
// The core calls the active backend through hid(); the production library installs its OS backend
// at load, the simulator library the simulated bus, and test programs may switch between them
// with set_hid_services() while no device is open.
//
// The contract follows Windows, the strictest of the platforms; every backend keeps it, and the
// core relies on nothing more:
// - Calls come from any thread, several at once: host threads (discovery, transactions, feature
//   reports, strings, close), the notification thread (identification, open, close) and the
//   asynchronous I/O thread (transfers, outcome, cancel). A backend locks what it shares itself,
//   and calls nothing of the core's but the event functions.
// - The core may hold the platform lock (registry walks never call here) or a device lock when it
//   calls; the backend takes no lock of the core's.
// - A path names one device: once that device has left, the path never names another, even one
//   plugged in where it was. The core tells devices apart by path on arrival, removal and reset.
// - A transfer moves one whole report, report ID in byte 0. A write may not be longer than the
//   output report byte length, a read not shorter than the input report byte length (hid_caps).
// - Starting a transfer resets the record's event; its completion signals it (also when it failed
//   or was cancelled). Until the outcome is no longer pending, the record and the buffer belong to
//   the backend: the core neither frees nor reuses them, not even after a cancel or a close.
// - A start refused at once (failed) leaves the record as the system leaves it: on Windows kernel32
//   has stored STATUS_PENDING in it before calling the system, and nothing rewrites it. The record
//   is not the system's then (a new transfer may start on it), and outcome() is failed: the core's
//   own bookkeeping (hid_transfer::refused, kept by the non-virtual start and outcome below) says
//   so, never the system's status.
// - Cancelling only asks: the cancelled transfer completes later, as failed (or as completed, if
//   it won the race), and signals its event then.
// - A read may end only while some thread waits for its event (hidraw: the waiter takes the report
//   off the node), and outcome() does not advance it: whoever needs a read to end waits for its
//   event. A write may take as long as the device takes to accept the report (seconds), so a
//   backend whose system blocks in a write still returns from start_write at once.
// - The core calls no operation on a handle after close(handle), and closes a handle at most once.
// - Synchronous requests (strings, attributes, descriptor, flush, feature reports) are made only
//   while none of the core's transfers is pending on the handle: on Windows they are unsafe beside
//   overlapped transfers on a handle opened for overlapped I/O.
// - Strings are UTF-16, terminated when they fit; the capacity is in bytes (the core passes 125).
#pragma once

#include "platform/platform.h"

#include <atomic>
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

// What HidP_GetCaps reports: the byte lengths of the largest report of each type (report ID
// byte included; 0 when there is none) and the counts of value capabilities per report type.
struct hid_caps {
    uint16_t input_report_bytes = 0;
    uint16_t output_report_bytes = 0;
    uint16_t feature_report_bytes = 0;
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

// The record of one transfer at a time. The core owns it and its event (which may outlive it);
// the backend keeps its per-transfer state in `os` (an OVERLAPPED and the handle on Windows). A
// record that never carried a transfer has the outcome completed.
struct hid_transfer {
    event_handle event = nullptr;
    std::atomic<bool> refused{false}; // the last start was refused at once; the backend never reads it
    alignas(8) unsigned char os[64] = {};
};

enum class hid_io {
    completed, // done at once, or (outcome) done since
    pending,   // started, not done yet (last error 997)
    failed,    // refused outright; the device is unusable
};

struct hid_preparsed_object;
using hid_preparsed = hid_preparsed_object *;

// Each operation says who calls it (host threads, the notification thread, the I/O thread), which
// of the core's locks may be held then (the platform lock never is), and whether it blocks.
class hid_services {
  public:
    virtual ~hid_services() = default;

    // Calls visit(path, context) for every HID interface present, in the system's order; when the
    // set of present interfaces cannot be obtained, for none (or for those found before memory ran
    // out): discovery probes what it was shown.
    // Discovery on a host thread, arrivals on the notification thread; no lock; blocks on the
    // system's device query.
    virtual void list_paths(void (*visit)(const char *path, void *context), void *context) = 0;
    // The device check: the interface named by path is present and its device description can be
    // read. Same callers and locks as list_paths; blocks on the system's device query.
    virtual bool check_present(const char *path) = 0;

    // Opens the device at path without sharing. On failure returns null and stores the last
    // error (error_sharing_violation while another handle holds the device).
    // Host threads and the notification thread; for probing no lock, for transfers the device
    // lock; does not wait for the device.
    virtual hid_handle open(const char *path, hid_access access, uint32_t *last_error) = 0;
    // Asks to cancel every pending transfer on the handle and releases the handle. The records of
    // cancelled transfers stay the backend's until their outcome is not pending.
    // Whichever thread drops the last reference to the open port, perhaps under its device lock;
    // does not block.
    virtual void close(hid_handle handle) = 0;
    // The last error the system reported for an operation on the handle (0 when none did), for
    // diagnostics. Any thread, any lock; does not block.
    virtual uint32_t last_error(hid_handle handle) = 0;

    // Strings into buffer (capacity in bytes); false when the device refuses. The product ID.
    // Identification on host threads and the notification thread with no lock; indexed strings on
    // host threads under the device lock with the port claimed. Block until the device answered.
    virtual bool product_string(hid_handle handle, uint16_t *buffer, std::size_t capacity) = 0;
    virtual bool serial_string(hid_handle handle, uint16_t *buffer, std::size_t capacity) = 0;
    virtual bool indexed_string(hid_handle handle, unsigned index, uint16_t *buffer, std::size_t capacity) = 0;
    virtual bool product_id(hid_handle handle, uint16_t *product_id) = 0;

    // Capabilities: fetch the parsed report descriptor, read its lengths and counts and its value
    // capabilities, free it. value_caps fills at most *count entries and stores the number
    // delivered in *count; false when the parser does not deliver them.
    // Opening, under the device lock; synchronous, but the system answers from what it holds.
    virtual hid_preparsed get_preparsed(hid_handle handle) = 0;
    virtual bool get_caps(hid_preparsed preparsed, hid_caps *caps) = 0;
    virtual bool get_value_caps(hid_preparsed preparsed, hid_report_type type, hid_value_cap *caps,
                                uint16_t *count) = 0;
    virtual void free_preparsed(hid_preparsed preparsed) = 0;

    // Discards the input reports queued for the handle. Host threads (later the I/O thread too)
    // with the port claimed; synchronous, short.
    virtual bool flush_input(hid_handle handle) = 0;
    // Sends a feature report (report ID in byte 0); false on failure. Host threads, under the
    // device lock with the port claimed; blocks until the driver is done.
    virtual bool set_feature(hid_handle handle, const uint8_t *buffer, uint16_t length) = 0;

    // Starts writing or reading one report of length bytes with the record, whose last transfer
    // must have ended. A transaction's host thread under the device lock, or the I/O thread with
    // no lock; the port is claimed either way. Does not block.
    hid_io start_write(hid_handle handle, const uint8_t *buffer, uint16_t length, hid_transfer *transfer)
    {
        transfer->refused = false;
        return noted(transfer, platform_start_write(handle, buffer, length, transfer));
    }
    hid_io start_read(hid_handle handle, uint8_t *buffer, uint16_t length, hid_transfer *transfer)
    {
        transfer->refused = false;
        return noted(transfer, platform_start_read(handle, buffer, length, transfer));
    }
    // The outcome of the record's last transfer: failed after a refused start, whatever the
    // system's status says. Needs no handle, so it may be asked after the handle was closed, while
    // a cancelled transfer ends. Any thread, any lock; does not block.
    hid_io outcome(hid_transfer *transfer)
    {
        return transfer->refused ? hid_io::failed : platform_outcome(transfer);
    }
    // Asks to cancel the record's transfer if it is pending; it ends later. A transaction's host
    // thread under the device lock, or the I/O thread; does not block.
    virtual void cancel_transfer(hid_handle handle, hid_transfer *transfer) = 0;
    // Asks to cancel every pending transfer on the handle, whichever thread started it. Closing a
    // port, on any thread, before it takes the device lock; does not block.
    virtual void cancel_io(hid_handle handle) = 0;

    // Plug events, where the backend is their source: from watch(true) until watch(false) it
    // feeds the device-change source (broadcast_interface) with the HID interfaces that arrive and
    // leave. False when it cannot. The notification thread, when it asks for and gives up HID
    // interface broadcasts; no lock. Windows broadcasts by itself, and the simulated bus as it
    // plugs, so theirs do nothing.
    virtual bool watch_plug_events(bool watch)
    {
        (void)watch;
        return true;
    }

    // Volumes, for the notification thread's volume events (no lock; synchronous): the unique
    // name of the volume mounted at root ("E:\\"), and its label ("" for none), into buffer of
    // capacity bytes. False when the system knows no such volume; the buffer then holds nothing
    // to rely on.
    virtual bool volume_name(const char *root, char *buffer, uint32_t capacity) = 0;
    virtual bool volume_label(const char *root, char *buffer, uint32_t capacity) = 0;

  protected:
    // The system's side of start_write, start_read and outcome, as above. After a refused start
    // platform_outcome may well say pending (Windows does): it is not asked then.
    virtual hid_io platform_start_write(hid_handle handle, const uint8_t *buffer, uint16_t length,
                                        hid_transfer *transfer) = 0;
    virtual hid_io platform_start_read(hid_handle handle, uint8_t *buffer, uint16_t length, hid_transfer *transfer) = 0;
    virtual hid_io platform_outcome(hid_transfer *transfer) = 0;

  private:
    static hid_io noted(hid_transfer *transfer, hid_io started)
    {
        if (started == hid_io::failed)
            transfer->refused = true;
        return started;
    }
};

// The active backend.
hid_services &hid() noexcept;
void set_hid_services(hid_services *services) noexcept;

} // namespace kv4
