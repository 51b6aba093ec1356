// The port registry and the platform lock.
#include "usb/registry.h"

#include "kv4usbcp.h"
#include "platform/platform.h"
#include "usb/custody.h"
#include "usb/open_port.h"

#include <atomic>
#include <cstring>

namespace kv4 {

namespace {

// The registry list is a static object: empty at load; at unload its nodes are dropped without
// touching the devices still listed.
tkusb_list<win32_device> registry_list;
uint16_t next_port = 0;
// One lock for the life of the process: the library's own threads take it on every pass of their
// loops, and a host that shuts down before it unregisters must not make them enter a deleted
// lock. What init and close_all create and destroy is only its existence.
recursive_lock &platform_lock()
{
    static recursive_lock *const lock = new recursive_lock; // never destroyed: threads may outlive statics
    return *lock;
}
std::atomic<bool> platform_lock_exists{false};

template <typename Match>
win32_device *find_first(Match match)
{
    if (tkusb_platform_lock() != 0)
        return nullptr;
    win32_device *found = nullptr;
    for (win32_device *device : registry_list)
        if (device && match(device)) {
            found = device;
            break;
        }
    tkusb_platform_unlock();
    return found;
}

} // namespace

int16_t tkusb_platform_init()
{
    platform_lock_exists.store(true);
    return 0;
}

int16_t tkusb_platform_close_all()
{
    const bool locked = tkusb_platform_lock() == 0; // goes on without the lock
    for (win32_device *device : registry_list)
        if (device) {
            device->retired.store(true); // a library thread that still holds it cannot reopen it
            device->close();
        }
    // A parked open state owns all that its transfer may still touch, so it is not waited for: it
    // outlives the devices, and is freed by a later release once its transfer has ended.
    reap_orphans(0);
    for (win32_device *device : registry_list)
        retire_device(device);
    registry_list.drop_nodes();
    next_port = 0; // here, so that a discovery that held the lock until now cannot leave it raised
    // Marked gone while still held, so that no other thread enters between the release and the
    // mark and then finds itself unable to leave.
    platform_lock_exists.store(false);
    if (locked)
        platform_lock().leave();
    return 0;
}

int16_t tkusb_platform_lock()
{
    if (!platform_lock_exists.load())
        return TKCMDSET_MUTEX_FAILED_ERR;
    if (const int16_t result = platform_lock().enter())
        return result;
    if (!platform_lock_exists.load()) { // shut down while this thread waited
        platform_lock().leave();
        return TKCMDSET_MUTEX_FAILED_ERR;
    }
    return 0;
}

int16_t tkusb_platform_unlock()
{
    // Left whenever it was entered, also when a shutdown came meanwhile; only a thread that
    // holds it may leave it.
    return platform_lock_exists.load() ? platform_lock().leave() : TKCMDSET_MUTEX_FAILED_ERR;
}

win32_device *tkusb_platform_get_device(uint16_t port)
{
    return find_first([port](win32_device *device) { return device->port == port; });
}

win32_device *tkusb_platform_find_by_serial(const char *serial)
{
    if (!serial)
        return nullptr;
    return find_first([serial](win32_device *device) { return std::strcmp(device->serial_key, serial) == 0; });
}

win32_device *tkusb_platform_find_by_path(const char *path)
{
    if (!path)
        return nullptr;
    return find_first([path](win32_device *device) { return device->path_matches(path); });
}

win32_device *tkusb_platform_register(win32_device *fresh)
{
    if (tkusb_platform_lock() != 0) {
        debug_line("---->**Error tkusb_platform_lock**");
        delete fresh;
        return nullptr;
    }
    win32_device *registered = nullptr;
    for (win32_device *device : registry_list)
        if (device && std::strcmp(device->serial_key, fresh->serial_key) == 0) {
            registered = device;
            break;
        }
    if (!registered) {
        fresh->port = next_port;
        if (registry_list.append(fresh)) {
            ++next_port;
            registered = fresh;
        }
    }
    tkusb_platform_unlock();
    if (registered != fresh)
        delete fresh;
    return registered;
}

int16_t tkusb_platform_for_each(void (*visit)(win32_device *device, void *context), void *context)
{
    if (const int16_t result = tkusb_platform_lock())
        return result;
    for (win32_device *device : registry_list)
        if (device)
            visit(device, context);
    return tkusb_platform_unlock();
}

uint16_t port_counter() { return next_port; }

} // namespace kv4
