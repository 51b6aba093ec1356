// Registering and unregistering an event callback: the slots, and starting and stopping the
// notification thread.
#include "events/events.h"

#include "platform/platform.h"
#include "usb/custody.h"

#include <atomic>
#include <mutex>
#include <new>

namespace kv4 {

namespace {

// Host threads register and unregister one at a time.
std::mutex registration_guard;
thread_handle thread_slot = nullptr;

// How long registering waits for the new thread to have its window. A thread is set up in
// moments, unless it cannot start at all: a host registering from DllMain or a static constructor
// holds the loader lock, which every new thread needs before it runs.
constexpr uint32_t startup_bound_ms = 5000;

// What the registrar and the starting thread share until the thread says how its start went, or
// the registrar gave up waiting. Whichever of the two leaves it last frees it.
struct event_startup {
    enum { waiting, running, failed, abandoned };
    int variant;
    event_handle ready;
    std::atomic<int> state{waiting};
    std::atomic<int> holders{2};

    void leave()
    {
        if (holders.fetch_sub(1) == 1) {
            event_close(ready);
            delete this;
        }
    }
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
    auto *startup = new (std::nothrow) event_startup{variant, event_create()};
    if (!startup || !startup->ready) {
        delete startup;
        return TKUSB_EVENT_REGISTER_ERR;
    }
    store_slot(variant, callback);
    library_thread_starting();
    thread_handle thread = thread_start(tkusb_platform_event_thread, startup);
    int state = event_startup::failed;
    if (!thread) {
        library_thread_ended();
        startup->holders.store(1); // no thread shares it
    } else {
        event_wait(startup->ready, startup_bound_ms);
        // Not started in time, it is told to end without a window as soon as it runs, and goes on
        // by itself; a decision it made just now stands.
        state = event_startup::waiting;
        if (startup->state.compare_exchange_strong(state, event_startup::abandoned))
            state = event_startup::abandoned;
    }
    startup->leave();
    if (state != event_startup::running) {
        // It could not have its window (perhaps the class is still held by an ending thread).
        if (thread && state == event_startup::failed)
            thread_join(thread, 1000);
        thread_release(thread);
        store_slot(variant, event_callback{});
        return state == event_startup::abandoned ? TKUSB_EVENT_TIMEOUT_ERR : TKUSB_EVENT_REGISTER_ERR;
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
    if (startup->state.load() == event_startup::waiting && window_class_register(event_window_procedure(variant))) {
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
    int state = event_startup::waiting;
    const bool kept = startup->state.compare_exchange_strong(state, window ? event_startup::running : event_startup::failed);
    event_set(startup->ready);
    startup->leave();
    if (window) {
        if (kept) {
            tkusb_platform_scan_devices(variant);
            window_message message;
            while (window_get_message(&message, window) > 0)
                window_dispatch(&message);
        } else {
            window_destroy(window); // the registrar gave up waiting and knows of no window
        }
        device_notification_unregister(notification);
        slots.window.compare_exchange_strong(window, nullptr);
        window_class_unregister();
    }
    library_thread_ended();
    return 0;
}

} // namespace kv4
