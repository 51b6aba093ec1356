// The small library-wide state through which discovery, device events and asynchronous sends
// reach the asynchronous I/O thread: the registered completion callback and the thread's wake
// event. The asynchronous I/O code sets and clears it when the host registers and unregisters.
#pragma once

#include "kv4usbcp.h"
#include "platform/platform.h"

#include <cstdint>
#include <mutex>

namespace kv4 {

// 0 while a completion callback is registered, TKUSB_ASYNC_UNREGISTERED otherwise.
int16_t tkusb_platform_asyncio_registered();

// Signals the I/O thread's wake event if a registration holds one; otherwise does nothing.
void tkusb_platform_wake_io_thread();

// The registered callback, or null.
tkusb_asyncio_callback async_callback();

// Stores a registration; the caller has made sure, under its own guard, that none is held.
void set_async_registration(tkusb_asyncio_callback callback, event_handle wake_event);

// Clears the registration. No wake-up uses its event once this returns.
void clear_async_registration();

std::mutex &acceptance_guard();
bool accepting_exchanges(); // with acceptance_guard held

// Runs queue() while the registration accepts exchanges: queue()'s result, or
// TKUSB_ASYNC_UNREGISTERED. An unregistration stops accepting under the same guard before it
// stops the I/O thread, so that no exchange is queued that the stopping thread would miss (a
// callback that queues the next exchange is then refused).
template <typename Queue> int16_t queue_while_accepting(Queue queue)
{
    std::lock_guard<std::mutex> guard(acceptance_guard());
    return accepting_exchanges() ? queue() : TKUSB_ASYNC_UNREGISTERED;
}
// Accepts no more exchanges; the registration stays for the callbacks still to come.
void stop_accepting();

} // namespace kv4
