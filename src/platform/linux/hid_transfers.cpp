// The hidraw backend's transfers: whole reports through the node, reads ended by whoever waits,
// writes by the handle's writer thread.
#include "platform/linux/hidraw.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <new>
#include <thread>
#include <unistd.h>
#include <vector>

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

} // namespace

ssize_t read_report(int fd, uint8_t *buffer, std::size_t length, bool numbered) noexcept
{
    // hidraw hands out a report without an ID when the device numbers none, where Windows puts 0
    // in front: the report goes in after that 0.
    const std::size_t id_byte = numbered ? 0 : 1;
    const ssize_t n = read(fd, buffer + id_byte, length - id_byte);
    if (n > 0) {
        if (id_byte)
            buffer[0] = 0;
        std::memset(buffer + id_byte + n, 0, length - id_byte - static_cast<std::size_t>(n));
    }
    return n;
}

namespace {

// Ends the read with the report the node has for it: a waiter saw the node ready, or a cancel.
// False while no report is there after all.
bool read_ready(event_source &source, bool cancelled)
{
    auto &t = reinterpret_cast<hidraw_transfer &>(source);
    if (cancelled) {
        end(t, hid_io::failed, 0);
        return true;
    }
    const ssize_t n = read_report(t.source.fd, t.buffer, t.length, t.device->descriptor.numbered);
    if (n > 0) {
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

// One handle's writes, one at a time in the order they were started.
struct hidraw_writer {
    std::mutex guard; // guards what follows; taken before the events' lock
    std::condition_variable work;
    std::vector<hid_transfer *> queued;
    hid_transfer *writing = nullptr; // the record whose report the kernel has, until it ended
    bool in_kernel = false;          // the writer is inside write()
    bool closing = false;
    bool owns_handle = false; // the handle was closed while the kernel held a write
    std::vector<uint8_t> report; // the copy the kernel has
    std::thread thread;
};

namespace {

// Ends a write (writer's guard held): the outcome first, then the event, as for reads.
void finish_write(hid_transfer *record, hid_io outcome, int error)
{
    end(state_of(record), outcome, error);
    event_set(record->event);
}

void write_reports(hid_device_object *device, hidraw_writer *w)
{
    std::unique_lock<std::mutex> lock(w->guard);
    for (;;) {
        w->work.wait(lock, [w] { return w->closing || !w->queued.empty(); });
        if (w->queued.empty())
            break; // closing: the close cancelled what was queued
        hid_transfer *record = w->queued.front();
        w->queued.erase(w->queued.begin());
        const hidraw_transfer &t = state_of(record);
        try {
            w->report.assign(t.buffer, t.buffer + t.length);
        } catch (const std::bad_alloc &) {
            finish_write(record, hid_io::failed, ENOMEM);
            continue;
        }
        w->writing = record;
        w->in_kernel = true;
        lock.unlock();
        ssize_t n;
        do
            n = write(device->fd, w->report.data(), w->report.size());
        while (n < 0 && errno == EINTR);
        const int error = n < 0 ? errno : 0;
        lock.lock();
        w->in_kernel = false;
        if (w->writing) // not cancelled meanwhile
            finish_write(w->writing, n < 0 ? hid_io::failed : hid_io::completed, error);
        w->writing = nullptr;
    }
    if (!w->owns_handle)
        return; // the close joins this thread and frees both
    lock.unlock();
    close(device->fd);
    delete w;
    delete device;
}

hidraw_writer *writer_of(hid_device_object *device)
{
    if (hidraw_writer *w = device->writer.load())
        return w;
    auto *w = new (std::nothrow) hidraw_writer;
    try {
        if (w) {
            w->queued.reserve(2); // a port's two records
            w->thread = std::thread(write_reports, device, w);
        }
    } catch (...) {
        delete w;
        return nullptr;
    }
    device->writer.store(w);
    return w;
}

// Ends the handle's queued writes, and the one the kernel has, as failed: every one when record
// is null.
void cancel_writes(hid_device_object *device, hid_transfer *record)
{
    hidraw_writer *w = device ? device->writer.load() : nullptr;
    if (!w)
        return;
    std::lock_guard<std::mutex> guard(w->guard);
    for (auto at = w->queued.begin(); at != w->queued.end();)
        if (!record || *at == record) {
            finish_write(*at, hid_io::failed, 0);
            at = w->queued.erase(at);
        } else {
            ++at;
        }
    if (w->writing && (!record || w->writing == record)) {
        finish_write(w->writing, hid_io::failed, 0);
        w->writing = nullptr;
    }
}

} // namespace

bool hand_over_to_writer(hid_device_object *device) noexcept
{
    hidraw_writer *w = device->writer.load();
    if (!w)
        return false;
    {
        std::lock_guard<std::mutex> guard(w->guard);
        w->closing = true;
        w->owns_handle = w->in_kernel;
        w->work.notify_one();
        if (w->owns_handle) {
            w->thread.detach(); // before the writer can go on to free itself
            return true;
        }
    }
    w->thread.join(); // it has nothing left to write: it ends at once
    delete w;
    return false;
}

hid_io hidraw_services::platform_start_write(hid_handle handle, const uint8_t *buffer, uint16_t length, hid_transfer *transfer)
{
    if (!begin(handle, transfer) || !buffer || length == 0)
        return hid_io::failed;
    hidraw_transfer &t = state_of(transfer);
    hidraw_writer *w = writer_of(handle);
    if (!w) {
        end(t, hid_io::failed, EAGAIN);
        return hid_io::failed;
    }
    t.buffer = const_cast<uint8_t *>(buffer); // only read
    t.length = sent_length(handle->descriptor.output_bytes, buffer, length);
    t.outcome = static_cast<uint8_t>(hid_io::pending);
    event_reset(transfer->event);
    {
        std::lock_guard<std::mutex> guard(w->guard);
        try {
            w->queued.push_back(transfer);
        } catch (const std::bad_alloc &) {
            end(t, hid_io::failed, ENOMEM);
            return hid_io::failed;
        }
    }
    w->work.notify_one();
    return hid_io::pending;
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

void hidraw_services::cancel_transfer(hid_handle handle, hid_transfer *transfer)
{
    if (!transfer || outcome_of(state_of(transfer)) != hid_io::pending)
        return;
    if (state_of(transfer).source.ready) // a read
        event_cancel(state_of(transfer).source);
    else
        cancel_writes(handle, transfer);
}

void hidraw_services::cancel_io(hid_handle handle)
{
    if (!handle)
        return;
    event_cancel_fd(handle->fd);
    cancel_writes(handle, nullptr);
}

} // namespace kv4
