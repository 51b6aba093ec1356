// Registering and unregistering an event callback: the slots, and starting and stopping the
// notification thread.
#include "events/events.h"

#include "platform/platform.h"
#include "usb/custody.h"

#include <mutex>

namespace kv4 {

namespace {

// Host threads register and unregister one at a time.
std::mutex registration_guard;
thread_handle thread_slot = nullptr;

// What the registrar and the starting thread share until the thread says how its start went.
struct event_startup {
    int variant;
    event_handle ready;
    bool running;
};

bool any_registered(const event_slots &slots)
{
    return slots.callback1.load() || slots.callback2.load() || slots.callback3.load();
}

void store_slot(int variant, const event_callback &callback)
{
    event_slots &slots = event_registration();
    if (variant == 1)
        slots.callback1.store(callback.v1);
    else if (variant == 2)
        slots.callback2.store(callback.v2);
    else
        slots.callback3.store(callback.v3);
}

} // namespace

event_slots &event_registration()
{
    static event_slots slots;
    return slots;
}

int16_t tkusb_platform_register_events(int variant, event_callback callback)
{
    std::lock_guard<std::mutex> guard(registration_guard);
    if (any_registered(event_registration()))
        return TKUSB_EVENT_REGISTER_ERR;
    event_startup startup{variant, event_create(), false};
    if (!startup.ready)
        return TKUSB_EVENT_REGISTER_ERR;
    store_slot(variant, callback);
    library_thread_starting();
    thread_handle thread = thread_start(tkusb_platform_event_thread, &startup);
    if (!thread)
        library_thread_ended();
    else
        event_wait(startup.ready, 0xFFFFFFFF); // set up in moments: it does not wait for anything
    event_close(startup.ready);
    if (!startup.running) {
        // It could not have its window (perhaps the class is still held by an ending thread).
        if (thread) {
            thread_join(thread, 1000);
            thread_release(thread);
        }
        store_slot(variant, event_callback{});
        return TKUSB_EVENT_REGISTER_ERR;
    }
    thread_slot = thread;
    return 0;
}

int16_t tkusb_platform_unregister_events(int variant)
{
    std::lock_guard<std::mutex> guard(registration_guard);
    event_slots &slots = event_registration();
    const bool registered = variant == 1   ? slots.callback1.load() != nullptr
                            : variant == 2 ? slots.callback2.load() != nullptr
                                           : slots.callback3.load() != nullptr;
    if (!registered)
        return TKUSB_EVENT_REGISTER_ERR;
    if (window_handle window = slots.window.load())
        window_post(window, wm_close, 0, 0);
    const bool ended = !thread_slot || thread_join(thread_slot, 1000);
    thread_release(thread_slot); // a thread that has not ended goes on and ends by itself
    thread_slot = nullptr;
    slots.window.store(nullptr);
    store_slot(variant, event_callback{});
    return ended ? 0 : TKUSB_EVENT_TIMEOUT_ERR;
}

unsigned tkusb_platform_event_thread(void *argument)
{
    auto *startup = static_cast<event_startup *>(argument);
    const int variant = startup->variant;
    event_slots &slots = event_registration();
    window_handle window = nullptr;
    void *notification = nullptr;
    if (window_class_register(event_window_procedure(variant))) {
        window = window_create();
        slots.window.store(window);
        notification = window ? device_notification_register(window) : nullptr;
        if (window && !notification) {
            window_destroy(window);
            window = nullptr;
            slots.window.store(nullptr);
        }
        if (!window)
            window_class_unregister();
    }
    startup->running = window != nullptr;
    event_set(startup->ready); // the record is the registrar's again from here on
    if (window) {
        tkusb_platform_scan_devices(variant);
        window_message message;
        while (window_get_message(&message, window) > 0)
            window_dispatch(&message);
        device_notification_unregister(notification);
        slots.window.compare_exchange_strong(window, nullptr);
        window_class_unregister();
    }
    library_thread_ended();
    return 0;
}

} // namespace kv4
