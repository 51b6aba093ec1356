// Handles on simulated monitors and the state of their transfers. Everything here is guarded by
// the bus lock.
#pragma once

#include "platform/hid_services.h"

#include <atomic>
#include <chrono>

namespace kv4::sim {

using clock = std::chrono::steady_clock;
using time_point = clock::time_point;
constexpr time_point at_once{}; // a due time that has always passed: no clock reading needed

class monitor;
struct hidraw_node;

// The state of one transfer, kept in the core's record (hid_transfer::os) so that starting a
// transfer allocates nothing.
struct transfer_state {
    hid_transfer *next = nullptr; // the handle's list of pending transfers, or the cancelled ones
    uint8_t *buffer = nullptr;    // a read's destination
    time_point due = at_once;     // when a write completes, or a cancelled transfer ends
    const monitor *stuck_on = nullptr; // a cancelled transfer held by this monitor's stuck driver
    uint16_t length = 0;
    // The status word, as the system keeps it in the record. A waiter ends a read on a node
    // without the bus lock, hence atomics.
    std::atomic<hid_io> outcome{hid_io::completed};
    std::atomic<bool> owned{false}; // the bus holds the record (pending or cancelled): no new transfer may start
    bool read = false;
};

// Begins a new transfer in the record (which must not be in any pending list). Its status word
// says pending from here on, as kernel32 sets it before calling the system; a start refused at
// once leaves it so.
transfer_state &start_state(hid_transfer *transfer) noexcept;
transfer_state &state_of(hid_transfer *transfer) noexcept;

// What a hid_handle of the simulated bus points at.
struct handle {
    monitor *owner = nullptr; // null once the monitor has left the bus: the handle is dead
    hid_access access = hid_access::probe;
    hid_transfer *pending = nullptr;
    uint32_t last_error = 0; // as the system would report it
    hidraw_node *node = nullptr; // opened under KV4SIM_RULE_READ_BY_WAITER (hidraw_node.h)

    void add(hid_transfer *transfer) noexcept;
    // Takes the transfer out of the pending list; false when it was not in it.
    bool remove(hid_transfer *transfer) noexcept;
    // Ends a pending transfer: takes it out of the list, records the outcome, signals its event.
    void finish(hid_transfer *transfer, hid_io outcome) noexcept;
    // Ends every pending transfer as failed (a cancel, a close or the monitor's removal).
    void fail_all() noexcept;
};

inline handle *as_sim(hid_handle h) noexcept { return reinterpret_cast<handle *>(h); }
inline hid_handle as_hid(handle *h) noexcept { return reinterpret_cast<hid_handle>(h); }

} // namespace kv4::sim
