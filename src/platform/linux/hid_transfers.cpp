// The hidraw backend's transfers: whole reports through the node, reads ended by whoever waits.
#include "platform/linux/hidraw.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <unistd.h>

namespace kv4 {

namespace {

constexpr uint32_t error_operation_aborted = 995;

static_assert(sizeof(hidraw_transfer) <= sizeof(hid_transfer::os), "a transfer's state does not fit its record");

hidraw_transfer &state_of(hid_transfer *transfer)
{
    return *std::launder(reinterpret_cast<hidraw_transfer *>(transfer->os));
}

hid_io outcome_of(const hidraw_transfer &t) { return static_cast<hid_io>(t.outcome.load()); }

void end(hidraw_transfer &t, hid_io outcome, int error)
{
    if (outcome == hid_io::failed)
        t.device->error = error ? windows_error(error) : error_operation_aborted;
    t.outcome = static_cast<uint8_t>(outcome);
}

// Ends the read with the report the node has for it: a waiter saw the node ready, or a cancel.
// False while no report is there after all.
bool read_ready(event_source &source, bool cancelled)
{
    auto &t = reinterpret_cast<hidraw_transfer &>(source);
    if (cancelled) {
        end(t, hid_io::failed, 0);
        return true;
    }
    const ssize_t n = read(t.source.fd, t.buffer, t.length);
    if (n > 0) {
        std::memset(t.buffer + n, 0, t.length - static_cast<std::size_t>(n));
        end(t, hid_io::completed, 0);
        return true;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return false;
    end(t, hid_io::failed, n < 0 ? errno : EIO);
    return true;
}

// A record whose transfer is still pending is the backend's: starting another on it is refused.
bool begin(hid_handle handle, hid_transfer *transfer)
{
    if (!handle || !transfer || outcome_of(state_of(transfer)) == hid_io::pending)
        return false;
    // Zeroed bytes or an ended transfer: either way no one else touches the record now.
    hidraw_transfer &t = *new (transfer->os) hidraw_transfer;
    t.device = handle;
    t.source.fd = handle->fd;
    return true;
}

} // namespace

hid_io hidraw_services::platform_start_write(hid_handle handle, const uint8_t *buffer, uint16_t length, hid_transfer *transfer)
{
    if (!begin(handle, transfer) || !buffer || length == 0)
        return hid_io::failed;
    hidraw_transfer &t = state_of(transfer);
    const uint16_t sent = sent_length(handle->descriptor.output_bytes, buffer, length);
    ssize_t n;
    do
        n = write(handle->fd, buffer, sent);
    while (n < 0 && errno == EINTR);
    if (n < 0) {
        end(t, hid_io::failed, errno);
        event_reset(transfer->event);
        return hid_io::failed;
    }
    end(t, hid_io::completed, 0);
    event_set(transfer->event); // reset and signalled at once: only the signal is seen
    return hid_io::completed;
}

hid_io hidraw_services::platform_start_read(hid_handle handle, uint8_t *buffer, uint16_t length, hid_transfer *transfer)
{
    if (!begin(handle, transfer) || !buffer || length == 0)
        return hid_io::failed;
    hidraw_transfer &t = state_of(transfer);
    t.buffer = buffer;
    t.length = length;
    t.source.ready = read_ready;
    t.outcome = static_cast<uint8_t>(hid_io::pending);
    event_attach(transfer->event, t.source);
    return hid_io::pending;
}

hid_io hidraw_services::platform_outcome(hid_transfer *transfer)
{
    return transfer ? outcome_of(state_of(transfer)) : hid_io::failed;
}

void hidraw_services::cancel_transfer(hid_handle, hid_transfer *transfer)
{
    if (transfer && outcome_of(state_of(transfer)) == hid_io::pending)
        event_cancel(state_of(transfer).source);
}

void hidraw_services::cancel_io(hid_handle handle)
{
    if (handle)
        event_cancel_fd(handle->fd);
}

} // namespace kv4
