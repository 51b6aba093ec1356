// The open state of a port: its OS handle, its two transfer records with their events, and their
// buffers.
//
// It is shared by reference between the device object and whoever transfers on the port (a
// transaction, a feature report, the asynchronous I/O thread), none of whom needs the device lock
// to keep it alive. close() only detaches it and asks the OS to cancel; the last reference closes
// the handle and frees the memory once neither record has a transfer pending, because the OS may
// still write into a cancelled transfer's record and buffer until that transfer has completed. A
// record that does not complete in time parks the state on an orphan list instead: it is never
// freed under the OS, and a later release frees it once it has completed. The records signal
// events of the state's own, so a transfer that ends late, after the device and the library are
// gone, signals nothing but what it still owns, and never a later open's event.
#pragma once

#include "platform/hid_services.h"
#include "usb/report_entry.h"
#include "usb/tkusb_list.h"

#include <atomic>
#include <cstdint>

namespace kv4 {

class open_port {
  public:
    // A state holding handle, one reference (the device's) and an event for each record; null
    // without memory or events.
    static open_port *create(hid_handle handle) noexcept;
    // The two buffers of transfer_length bytes, zeroed; false without memory.
    bool allocate_buffers(uint16_t length) noexcept;

    void retain() noexcept { references_.fetch_add(1); }
    // The last release closes the handle and frees the state, or parks it while a transfer of
    // one of its records is still pending.
    void release() noexcept;

    const hid_handle handle;
    uint16_t transfer_length = 0;
    uint8_t *transfer_buffer = nullptr;   // synchronous transfers, feature reports, asynchronous reads
    uint8_t *async_send_buffer = nullptr; // asynchronous writes
    hid_transfer sync_transfer;
    hid_transfer async_transfer;
    // Set by close() before it cancels everything on the handle. A transfer started after that
    // cancel is not reached by it, so whoever starts a transfer looks here afterwards and cancels
    // it itself.
    std::atomic<bool> closed{false};
    // The input reports as the open found them. An asynchronous send chooses its report here,
    // without the device lock, which a transaction holds for its whole length.
    tkusb_list<report_entry> input_reports;

  private:
    explicit open_port(hid_handle handle) noexcept;
    ~open_port();
    friend void reap_orphans(uint32_t wait_ms) noexcept;

    std::atomic<unsigned> references_{1};
    open_port *next_orphan_ = nullptr;
};

// A counted reference to an open state; empty when the port was not open.
class port_ref {
  public:
    port_ref() = default;
    explicit port_ref(open_port *port) noexcept : port_(port) {}
    port_ref(port_ref &&other) noexcept : port_(other.port_) { other.port_ = nullptr; }
    port_ref &operator=(port_ref &&other) noexcept;
    port_ref(const port_ref &) = delete;
    port_ref &operator=(const port_ref &) = delete;
    ~port_ref() { reset(); }

    void reset() noexcept;
    // Gives the reference up to the caller, who releases it later.
    open_port *detach() noexcept
    {
        open_port *port = port_;
        port_ = nullptr;
        return port;
    }
    explicit operator bool() const noexcept { return port_ != nullptr; }
    open_port *operator->() const noexcept { return port_; }
    open_port &operator*() const noexcept { return *port_; }

  private:
    open_port *port_ = nullptr;
};

enum class transfer_wait { completed, failed, timed_out };

// Waits up to timeout_ms for the record's transfer to end. The record's outcome decides, not its
// event, which may still carry the signal of the record's previous transfer.
transfer_wait wait_transfer(hid_transfer &transfer, uint32_t timeout_ms) noexcept;

// Cancels the record's transfer and waits for it to end, so that the record and its buffer can be
// used again. False when it did not end in time: the record must not be used again on this open.
bool cancel_transfer(open_port &port, hid_transfer &transfer) noexcept;

// Frees the parked states whose transfers have ended, waiting up to wait_ms for the rest.
void reap_orphans(uint32_t wait_ms) noexcept;

} // namespace kv4
