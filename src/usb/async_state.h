// The small library-wide state through which discovery, device events and asynchronous sends
// reach the asynchronous I/O thread: the registered completion callback and the thread's wake
// event. The asynchronous I/O code sets and clears it when the host registers and unregisters.
#pragma once

#include "kv4usbcp.h"
#include "platform/platform.h"

#include <cstdint>

namespace kv4 {

// 0 while a completion callback is registered, TKUSB_ASYNC_UNREGISTERED otherwise.
int16_t tkusb_platform_asyncio_registered();

// Signals the I/O thread's wake event if a registration holds one; otherwise does nothing.
void tkusb_platform_wake_io_thread();

// The registered callback, or null.
tkusb_asyncio_callback async_callback();

// Stores a registration. Returns false, and stores nothing, when one is held already.
bool set_async_registration(tkusb_asyncio_callback callback, event_handle wake_event);

// Clears the registration. No wake-up uses its event once this returns.
void clear_async_registration();

} // namespace kv4
