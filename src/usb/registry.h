// The port registry: every identified monitor's device object in order of registration, the
// counter that hands out port numbers, and the process-wide platform lock that guards both.
#pragma once

#include "usb/usb_device.h"

#include <cstdint>

namespace kv4 {

// Creates the platform lock (replacing any earlier one) and restarts port numbering at 0.
int16_t tkusb_platform_init();
// Closes and destroys every registered device, empties the registry, restarts numbering at 0
// and destroys the platform lock. Always 0. No other call may run at the same time.
int16_t tkusb_platform_close_all();

// The platform lock: 0, or TKCMDSET_MUTEX_FAILED_ERR when it does not exist or cannot be taken.
int16_t tkusb_platform_lock();
int16_t tkusb_platform_unlock();

// Lookups under the platform lock: the first match in registration order, or null (also when the
// lock does not exist). A device pointer stays valid until tkusb_platform_close_all.
win32_device *tkusb_platform_get_device(uint16_t port);
// Exact, case-sensitive comparison with the whole serial text the device reported.
win32_device *tkusb_platform_find_by_serial(const char *serial);
// Ignores ASCII letter case; a device that was never opened has no path and never matches.
win32_device *tkusb_platform_find_by_path(const char *path);

// Registers a new device for serial unless one with that serial is registered already, as one
// step under the platform lock, so that two threads identifying the same monitor at once get one
// object and no port number is handed out twice. The new device gets the next port number.
// Returns the registered device for the serial; null (and deletes `fresh`) when the platform lock
// is missing or the registry is full.
win32_device *tkusb_platform_register(win32_device *fresh);

// Calls visit(device, context) for every registered device, in order, under the platform lock.
// TKCMDSET_MUTEX_FAILED_ERR when the lock cannot be taken (nothing visited).
int16_t tkusb_platform_for_each(void (*visit)(win32_device *device, void *context), void *context);

// The next port number to hand out.
uint16_t port_counter();

} // namespace kv4
