// The port registry and the platform lock.
#include "usb/registry.h"

#include "kv4usbcp.h"
#include "platform/platform.h"

#include <atomic>
#include <cstring>

namespace kv4 {

namespace {

// The registry list is a static object: empty at load; at unload its nodes are dropped without
// touching the devices still listed.
tkusb_list<win32_device> registry_list;
uint16_t next_port = 0;
// Written only by init and close_all, which no other call may overlap; atomic so that a lookup
// racing a misbehaving host reads a whole pointer.
std::atomic<recursive_lock *> platform_lock{nullptr};

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
    delete platform_lock.exchange(nullptr);
    platform_lock.store(new recursive_lock);
    next_port = 0;
    return 0;
}

int16_t tkusb_platform_close_all()
{
    next_port = 0;
    const bool locked = tkusb_platform_lock() == 0; // goes on without the lock
    for (win32_device *device : registry_list) {
        if (device) {
            device->close();
            delete device;
        }
    }
    registry_list.drop_nodes();
    if (locked)
        tkusb_platform_unlock();
    delete platform_lock.exchange(nullptr);
    return 0;
}

int16_t tkusb_platform_lock()
{
    recursive_lock *lock = platform_lock.load();
    return lock ? lock->enter() : TKCMDSET_MUTEX_FAILED_ERR;
}

int16_t tkusb_platform_unlock()
{
    recursive_lock *lock = platform_lock.load();
    return lock ? lock->leave() : TKCMDSET_MUTEX_FAILED_ERR;
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
