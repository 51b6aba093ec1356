// Custody of device objects at shutdown. The library's own threads (the asynchronous I/O thread
// and the notification thread) hold device pointers outside the platform lock; a host that shuts
// the library down while one runs must not make it use a destroyed object. tkusb_platform_close_all
// therefore retires its devices here, and they are destroyed once no such thread runs.
#pragma once

#include "usb/usb_device.h"

namespace kv4 {

// A library thread is about to start; pair with library_thread_ended, also when starting fails.
void library_thread_starting();
// The thread's last step: when it was the last one running, the retired devices are destroyed.
void library_thread_ended();

// Destroys a device object that tkusb_platform_close_all has closed and removed, or keeps it until
// no library thread runs.
void retire_device(win32_device *device);

// Calls visit(device, context) for every retired device still kept, under the custody lock: the
// I/O thread still ends the exchanges that were queued on them.
void for_each_retired(void (*visit)(win32_device *device, void *context), void *context);

} // namespace kv4
