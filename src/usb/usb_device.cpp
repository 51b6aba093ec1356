// Lifetime and locking of device objects.
#include "usb/usb_device.h"

#include "kv4usbcp.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace kv4 {

usb_device::~usb_device()
{
    input_reports.clear();
    output_reports.clear();
    feature_reports.clear();
}

win32_device::~win32_device()
{
    close();
    std::free(path);
}

int16_t win32_device::close()
{
    // Wake a transfer that another thread may be waiting on, so that the lock below is not held
    // for the rest of its timeout; the transfer sees is_open cleared and ends.
    is_open.store(0);
    {
        std::lock_guard<std::mutex> guard(guard_);
        if (handle)
            hid().cancel_io(handle);
    }
    // The lock object always exists, whatever device_lock_live says, so it can be entered here to
    // wait for a transfer in progress to leave the buffers and events alone.
    device_lock.enter();
    release_resources();
    device_lock_live.store(false);
    device_lock.leave();
    return 0;
}

void win32_device::release_resources()
{
    // The handle goes first: a transfer still pending must be cancelled before the buffer it
    // writes into and the event it signals are released.
    {
        std::lock_guard<std::mutex> guard(guard_);
        if (handle) {
            hid().close(handle);
            handle = nullptr;
        }
    }
    delete[] transfer_buffer;
    transfer_buffer = nullptr;
    delete[] async_send_buffer;
    async_send_buffer = nullptr;
    input_reports.clear();
    output_reports.clear();
    feature_reports.clear();
    event_close(sync_overlapped.event);
    sync_overlapped.event = nullptr;
    event_close(async_overlapped.event);
    async_overlapped.event = nullptr;
}

int16_t win32_device::lock()
{
    if (!device_lock_live.load())
        return TKCMDSET_MUTEX_FAILED_ERR;
    if (const int16_t result = device_lock.enter())
        return result;
    if (!device_lock_live.load()) { // closed while this thread waited
        device_lock.leave();
        return TKCMDSET_MUTEX_FAILED_ERR;
    }
    return 0;
}

int16_t win32_device::unlock()
{
    const int16_t result = device_lock.leave();
    return device_lock_live.load() ? result : TKCMDSET_MUTEX_FAILED_ERR;
}

bool win32_device::path_matches(const char *other)
{
    std::lock_guard<std::mutex> guard(guard_);
    if (!path || !other)
        return false;
    const char *mine = path;
    for (; *mine && *other; ++mine, ++other)
        if (std::tolower(static_cast<unsigned char>(*mine)) != std::tolower(static_cast<unsigned char>(*other)))
            return false;
    return *mine == *other;
}

char *win32_device::copy_path()
{
    std::lock_guard<std::mutex> guard(guard_);
    if (!path)
        return nullptr;
    char *copy = static_cast<char *>(std::malloc(std::strlen(path) + 1));
    if (copy)
        std::strcpy(copy, path);
    return copy;
}

int16_t win32_device::replace_path(const char *new_path)
{
    char *copy = static_cast<char *>(std::malloc(std::strlen(new_path) + 1));
    if (!copy)
        return TKUSB_SYSTEM_IO_ERR;
    std::strcpy(copy, new_path);
    std::lock_guard<std::mutex> guard(guard_);
    std::free(path);
    path = copy;
    return 0;
}

bool win32_device::compare_and_set_state(uint32_t expected, uint32_t desired)
{
    return io_state.compare_exchange_strong(expected, desired);
}

} // namespace kv4
