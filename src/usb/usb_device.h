// Device objects: one per monitor the library has identified, named by the host with a port number.
// usb_device is the base with the report tables, identity and I/O state; win32_device, the only
// kind ever created, adds the open device: its open state (handle, transfer records, buffers),
// its events and the device lock.
#pragma once

#include "platform/hid_services.h"
#include "platform/platform.h"
#include "usb/open_port.h"
#include "usb/report_entry.h"
#include "usb/tkusb_list.h"

#include <atomic>
#include <cstdint>
#include <mutex>

namespace kv4 {

// Values of usb_device::io_state.
enum : uint32_t {
    TKUSB_IO_IDLE = 0,
    TKUSB_IO_WRITE_REQUESTED = 1, // an asynchronous exchange waits for the I/O thread to write
    TKUSB_IO_WRITING = 2,         // its write has been started
    TKUSB_IO_READING = 3,         // its read has been started
    TKUSB_IO_SYNC = 4,            // a synchronous transaction holds the port
};

class usb_device {
public:
    usb_device() = default;
    usb_device(const usb_device &) = delete;
    usb_device &operator=(const usb_device &) = delete;
    virtual ~usb_device();

    virtual int16_t close() { return 0; }
    virtual int16_t lock() { return 0; }
    virtual int16_t unlock() { return 0; }
    virtual bool compare_and_set_state(uint32_t expected, uint32_t desired)
    {
        (void)expected;
        io_state.store(desired);
        return true;
    }

    tkusb_list<report_entry> input_reports;   // selector TKUSB_REPORT_INPUT (1)
    tkusb_list<report_entry> output_reports;  // selector TKUSB_REPORT_OUTPUT (0)
    tkusb_list<report_entry> feature_reports; // selector TKUSB_REPORT_FEATURE (2)
    char serial_number[32] = {};              // at most 9 characters
    char product_name[64] = {};               // at most 63 characters
    uint16_t port = 0xFFFF;
    std::atomic<uint16_t> product_id{0xFFFF}; // refreshed by device checks on any thread
    std::atomic<uint8_t> buffer_mode{2}; // TKUSB_BUFFER_MODE_RESPONSE
    std::atomic<uint32_t> io_state{TKUSB_IO_IDLE};

    // The whole trimmed serial text the device reported. Serial numbers are shown cut to 9
    // characters, but a monitor is recognised by the whole text, so that one with a longer serial
    // is found again at the next discovery instead of being registered anew, and two monitors
    // whose serials share their first 9 characters keep separate ports.
    char serial_key[256] = {};
};

class win32_device : public usb_device {
public:
    win32_device();
    ~win32_device() override;

    // Detaches the open state and asks the OS to cancel its transfers, waits for a transaction
    // in progress to leave (it is woken by the cancel and ends with TKUSB_DEVICE_CLOSED_ERR),
    // then drops the report tables. Identity, path, buffer mode and I/O state stay; the object
    // stays registered. Safe on a closed device and from any thread. Open and close change the
    // port's state under the device lock, so a close racing an open on another thread either
    // closes that open or finds it already closed, and never leaves a port marked open without
    // its resources.
    int16_t close() override;
    int16_t lock() override;
    int16_t unlock() override;
    bool compare_and_set_state(uint32_t expected, uint32_t desired) override;

    // Opens the device at path for transfers and builds everything an open device holds, unless
    // the port is open: then already_open. Threads that open ports they find closed (discovery,
    // device arrivals, a reset) all open this way, so that one of them opens and the others see it
    // rather than close what it opened.
    static constexpr int16_t already_open = 1;
    int16_t open_if_closed(const char *path);
    // Set once tkusb_platform_close_all has removed the object: it is never opened again.
    std::atomic<bool> retired{false};

    // A reference to the open state; empty when the port is not open. Taken without the device
    // lock, it keeps the handle, records and buffers alive until it is dropped.
    port_ref acquire();

    // The stored path, read and replaced under a guard because lookups by path run on other
    // threads than open().
    bool path_matches(const char *other);   // ignoring ASCII letter case; false without a path
    char *copy_path();                      // a malloc'd copy, or null when there is none

    // The asynchronous exchange queued by send_command, handed to the I/O thread: when it was
    // accepted, its tag, its report, and the open state it was queued on (with a reference, so
    // that the command it wrote is not lost to a reopen). Guarded by exchange_guard, held only for
    // a few stores.
    uint32_t request_start_ticks = 0;
    uint16_t request_tag = 0;
    open_port *exchange_port = nullptr;
    std::mutex exchange_guard;
    std::atomic<uint8_t> is_open{0};
    // Manual-reset event that send_command signals to hand an exchange to the I/O thread, which
    // waits on it while the port has no transfer under way (the transfers signal the events of
    // their open state). It lives as long as the object, so the I/O thread may keep it in its wait
    // set while the port closes and reopens.
    const event_handle async_event;
    char *path = nullptr; // owned; kept across close
    std::atomic<uint16_t> transfer_length{0};
    report_entry response_report; // guarded by exchange_guard

    // The device lock lives exactly as long as the object. What open and close create and destroy
    // is only its validity: `device_lock_live` says whether lock() may be entered. A thread that
    // holds the lock while the device is closed (its own close after a failed transfer, or a
    // close on another thread that waited for it) still releases the same object in unlock(),
    // which then reports TKCMDSET_MUTEX_FAILED_ERR; a thread waiting in lock() wakes on a valid
    // object, sees the device closed and gets TKCMDSET_MUTEX_FAILED_ERR. Objects are destroyed
    // only all together at shutdown, when no other call may run.
    recursive_lock device_lock;
    std::atomic<bool> device_lock_live{false};

private:
    int16_t open_locked(const char *new_path);
    int16_t replace_path(const char *new_path);
    void clear_report_tables();
    void abandon_open();

    // Guards `open_`, `open_failed_` and `path`. Leaf lock: nothing else is taken while it is held.
    std::mutex guard_;
    open_port *open_ = nullptr; // holds one reference
    bool open_failed_ = false;  // the last open failed after it had opened the handle
};

} // namespace kv4
