// Asynchronous registration state. A wake-up reads the event and signals it under a small lock
// that clearing the registration also takes, so an event is never signalled after it was handed
// back for closing.
#include "usb/async_state.h"

#include <atomic>
#include <mutex>

namespace kv4 {

namespace {
std::atomic<tkusb_asyncio_callback> registered_callback{nullptr};
event_handle wake_event = nullptr; // guarded by registration_guard
std::mutex registration_guard;
bool accepting = false; // guarded by acceptance_guard()
} // namespace

std::mutex &acceptance_guard()
{
    static std::mutex guard;
    return guard;
}

bool accepting_exchanges() { return accepting; }

void stop_accepting()
{
    std::lock_guard<std::mutex> guard(acceptance_guard());
    accepting = false;
}

int16_t tkusb_platform_asyncio_registered() { return registered_callback.load() ? 0 : TKUSB_ASYNC_UNREGISTERED; }

void tkusb_platform_wake_io_thread()
{
    std::lock_guard<std::mutex> guard(registration_guard);
    if (wake_event) // set and cleared with the callback
        event_set(wake_event);
}

tkusb_asyncio_callback async_callback() { return registered_callback.load(); }

void set_async_registration(tkusb_asyncio_callback callback, event_handle event)
{
    std::lock_guard<std::mutex> guard(registration_guard);
    wake_event = event;
    registered_callback.store(callback);
    std::lock_guard<std::mutex> accept(acceptance_guard());
    accepting = true;
}

void clear_async_registration()
{
    std::lock_guard<std::mutex> guard(registration_guard);
    registered_callback.store(nullptr);
    wake_event = nullptr;
    std::lock_guard<std::mutex> accept(acceptance_guard());
    accepting = false;
}

} // namespace kv4
