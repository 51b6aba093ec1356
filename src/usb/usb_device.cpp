// Lifetime and locking of device objects.
#include "usb/usb_device.h"

#include "kv4usbcp.h"
#include "usb/async_state.h"

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

win32_device::win32_device() : async_event(event_create()) {}

win32_device::~win32_device()
{
    close();
    std::free(path);
    event_close(async_event);
}

port_ref win32_device::acquire()
{
    std::lock_guard<std::mutex> guard(guard_);
    if (!open_ || !is_open.load())
        return port_ref();
    open_->retain();
    return port_ref(open_);
}

int16_t win32_device::close()
{
    // Wake the transfers in flight first, so that the device lock below is not held for the rest
    // of a transaction's timeout.
    if (port_ref current = acquire()) {
        current->closed.store(true);
        hid().cancel_io(current->handle);
    }
    device_lock.enter();
    open_port *detached;
    {
        std::lock_guard<std::mutex> guard(guard_);
        detached = open_;
        open_ = nullptr;
        open_failed_ = false;
        is_open.store(0);
    }
    if (detached) { // perhaps an open that came after the cancel above
        detached->closed.store(true);
        hid().cancel_io(detached->handle);
    }
    clear_report_tables();
    device_lock_live.store(false);
    device_lock.leave();
    // Released here rather than left to a later user, so that the handle is closed when close()
    // returns unless a transfer still holds it; a reopen right after then finds the device free.
    if (detached) {
        detached->release();
        tkusb_platform_wake_io_thread(); // its wait set loses the port
    }
    return 0;
}

void win32_device::clear_report_tables()
{
    input_reports.clear();
    output_reports.clear();
    feature_reports.clear();
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
