// The asynchronous I/O thread: registration of the completion callback, the thread that carries
// out every queued exchange and makes every completion callback.
#pragma once

#include "kv4usbcp.h"
#include "usb/usb_device.h"

#include <cstdint>

namespace kv4 {

// Stores the callback and starts the I/O thread. TKUSB_EVENT_REGISTER_ERR while one is registered
// or the thread of an earlier registration has not ended yet (never two I/O threads);
// TKUSB_ASYNC_REGISTER_ERR when the system refuses the event or the thread.
int16_t tkusb_platform_register_asyncio(tkusb_asyncio_callback callback, uint16_t timeout_ms);

// Stops the I/O thread and waits for it at most twice the timeout: 0, TKUSB_EVENT_TIMEOUT_ERR when
// it has not ended by then (it ends by itself later, as when a callback unregisters), or
// TKUSB_EVENT_REGISTER_ERR when nothing is registered. The registration is cleared either way.
// Exchanges still under way when the thread stops end with TKUSB_ASYNC_UNREGISTERED; after a
// time-out the registration is cleared before the thread stops, and they end without a callback.
int16_t tkusb_platform_unregister_asyncio();

} // namespace kv4
