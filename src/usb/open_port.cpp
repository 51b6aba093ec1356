// Lifetime of a port's open state, waits for its transfers, and the orphans.
#include "usb/open_port.h"

#include "platform/platform.h"

#include <mutex>
#include <new>

namespace kv4 {

namespace {

// How long a cancelled transfer may take to end. The OS ends a cancelled HID transfer at once; one
// that takes longer belongs to a driver in trouble.
constexpr uint32_t cancel_settle_ms = 1000;

std::mutex orphan_guard;
open_port *orphans = nullptr; // guarded by orphan_guard

bool ended(hid_transfer &transfer, uint32_t wait_ms) noexcept
{
    return wait_transfer(transfer, wait_ms) != transfer_wait::timed_out;
}

} // namespace

open_port::open_port(hid_handle opened) noexcept : handle(opened)
{
    sync_transfer.event = event_create();
    async_transfer.event = event_create();
}

open_port::~open_port()
{
    input_reports.clear();
    delete[] transfer_buffer;
    delete[] async_send_buffer;
    event_close(sync_transfer.event);
    event_close(async_transfer.event);
}

open_port *open_port::create(hid_handle handle) noexcept
{
    open_port *state = new (std::nothrow) open_port(handle);
    if (state && (!state->sync_transfer.event || !state->async_transfer.event)) {
        delete state;
        return nullptr;
    }
    return state;
}

bool open_port::allocate_buffers(uint16_t length) noexcept
{
    transfer_length = length;
    transfer_buffer = new (std::nothrow) uint8_t[length]();
    async_send_buffer = new (std::nothrow) uint8_t[length]();
    return transfer_buffer && async_send_buffer;
}

void open_port::release() noexcept
{
    if (references_.fetch_sub(1) != 1)
        return;
    hid().close(handle);
    if (ended(sync_transfer, cancel_settle_ms) && ended(async_transfer, cancel_settle_ms)) {
        delete this;
    } else {
        debug_line("-->USB DLL: a cancelled transfer has not ended; its buffers are kept until it does");
        std::lock_guard<std::mutex> guard(orphan_guard);
        next_orphan_ = orphans;
        orphans = this;
    }
    reap_orphans(0);
}

void reap_orphans(uint32_t wait_ms) noexcept
{
    const uint32_t start = tick_count();
    std::lock_guard<std::mutex> guard(orphan_guard);
    for (open_port **link = &orphans; *link;) {
        open_port *orphan = *link;
        const uint32_t elapsed = tick_count() - start;
        const uint32_t left = elapsed < wait_ms ? wait_ms - elapsed : 0;
        if (ended(orphan->sync_transfer, left) && ended(orphan->async_transfer, left)) {
            *link = orphan->next_orphan_;
            delete orphan;
        } else {
            link = &orphan->next_orphan_;
        }
    }
}

port_ref &port_ref::operator=(port_ref &&other) noexcept
{
    if (this != &other) {
        reset();
        port_ = other.port_;
        other.port_ = nullptr;
    }
    return *this;
}

void port_ref::reset() noexcept
{
    if (port_)
        port_->release();
    port_ = nullptr;
}

transfer_wait wait_transfer(hid_transfer &transfer, uint32_t timeout_ms) noexcept
{
    const uint32_t start = tick_count();
    for (uint32_t elapsed = 0;; elapsed = tick_count() - start) {
        const hid_io outcome = hid().outcome(&transfer);
        if (outcome != hid_io::pending)
            return outcome == hid_io::completed ? transfer_wait::completed : transfer_wait::failed;
        if (elapsed >= timeout_ms)
            return transfer_wait::timed_out;
        const int woken = event_wait(transfer.event, timeout_ms - elapsed);
        // A signal without an outcome is stale. The backend records the outcome before it
        // signals, so after the reset the outcome is looked at again before the next wait.
        if (woken == 0 && hid().outcome(&transfer) == hid_io::pending)
            event_reset(transfer.event);
        else if (woken == wait_failed)
            sleep_ms(1);
    }
}

bool cancel_transfer(open_port &port, hid_transfer &transfer) noexcept
{
    hid().cancel_transfer(port.handle, &transfer);
    return ended(transfer, cancel_settle_ms);
}

} // namespace kv4
