// The device-change source on POSIX: a window is a message queue with a procedure, named by a
// number rather than an address, so that a post to a window that is gone fails instead of
// touching freed memory, as a post to a destroyed window does on Windows.
#include "platform/device_change.h"
#include "platform/hid_services.h"

#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace kv4 {

namespace {

struct queued {
    uint32_t message;
    uintptr_t wparam;
    intptr_t lparam;
    std::vector<unsigned char> record; // a broadcast's record; lparam points at it when dispatched
};

struct window_queue {
    uintptr_t id;
    std::deque<queued> messages; // guarded by source_guard
    bool quit = false;
    bool notifications = false;
};

// Guards everything below; never held while a procedure runs.
std::mutex source_guard;
std::condition_variable source_changed;
window_procedure class_procedure = nullptr; // non-null while the class is registered
std::shared_ptr<window_queue> the_window;   // the class's one window
uintptr_t next_id = 1;
bool plug_events_watched = false;                      // the backend's plug-event source runs
thread_local std::shared_ptr<window_queue> own_window; // the window this thread created

struct dispatched {
    window_handle window;
    queued entry;
};
static_assert(sizeof(dispatched) <= sizeof(window_message::os), "a message does not fit its record");

window_handle as_handle(uintptr_t id) { return reinterpret_cast<window_handle>(id); }

bool post(window_handle window, queued entry)
{
    std::lock_guard<std::mutex> guard(source_guard);
    if (!the_window || as_handle(the_window->id) != window)
        return false;
    try {
        the_window->messages.push_back(std::move(entry));
    } catch (const std::bad_alloc &) {
        return false;
    }
    source_changed.notify_all();
    return true;
}

void post_record(const void *record, std::size_t size, uint32_t event, bool hid_interface)
{
    window_handle window = nullptr;
    window_procedure own_thread = nullptr;
    {
        std::lock_guard<std::mutex> guard(source_guard);
        if (the_window && (the_window->notifications || !hid_interface)) {
            window = as_handle(the_window->id);
            own_thread = the_window == own_window ? class_procedure : nullptr;
        }
    }
    if (!window)
        return;
    // As Windows sends WM_DEVICECHANGE: on the window's own thread (a host's callback that plugs
    // a simulated monitor, as a MessageBox's loop would fetch it) the procedure runs at once,
    // inside the handling under way.
    if (own_thread) {
        own_thread(window, wm_devicechange, event, reinterpret_cast<intptr_t>(record));
        return;
    }
    try {
        queued entry{wm_devicechange, event, 0, std::vector<unsigned char>(size)};
        std::memcpy(entry.record.data(), record, size);
        post(window, std::move(entry));
    } catch (const std::bad_alloc &) {
        // Lost, as a broadcast is when the system cannot deliver it.
    }
}

} // namespace

bool window_class_register(window_procedure procedure) noexcept
{
    std::lock_guard<std::mutex> guard(source_guard);
    if (class_procedure || !procedure)
        return false;
    class_procedure = procedure;
    return true;
}

void window_class_unregister() noexcept
{
    std::lock_guard<std::mutex> guard(source_guard);
    if (!the_window)
        class_procedure = nullptr;
}

window_handle window_create() noexcept
{
    std::lock_guard<std::mutex> guard(source_guard);
    if (!class_procedure || the_window)
        return nullptr;
    try {
        the_window = std::make_shared<window_queue>();
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
    the_window->id = next_id++;
    own_window = the_window;
    return as_handle(the_window->id);
}

void window_destroy(window_handle window) noexcept
{
    window_procedure procedure;
    {
        std::lock_guard<std::mutex> guard(source_guard);
        if (!the_window || as_handle(the_window->id) != window || the_window != own_window)
            return;
        procedure = class_procedure;
    }
    procedure(window, wm_destroy, 0, 0);
    std::lock_guard<std::mutex> guard(source_guard);
    the_window.reset(); // what is still queued is dropped with it
    source_changed.notify_all();
}

void window_post_quit() noexcept
{
    std::lock_guard<std::mutex> guard(source_guard);
    if (own_window)
        own_window->quit = true;
}

intptr_t window_default(window_handle, uint32_t, uintptr_t, intptr_t) noexcept { return 0; }

bool window_post(window_handle window, uint32_t message, uintptr_t wparam, intptr_t lparam) noexcept
{
    return post(window, queued{message, wparam, lparam, {}});
}

int window_get_message(window_message *message, window_handle window) noexcept
{
    std::unique_lock<std::mutex> guard(source_guard);
    const std::shared_ptr<window_queue> own = own_window;
    if (!own || as_handle(own->id) != window)
        return -1;
    source_changed.wait(guard, [&] { return own->quit || !own->messages.empty() || the_window != own; });
    if (own->quit) {
        own_window.reset();
        return 0;
    }
    if (own->messages.empty())
        return -1;
    auto *taken = new (message->os) dispatched{window, std::move(own->messages.front())};
    own->messages.pop_front();
    if (!taken->entry.record.empty())
        taken->entry.lparam = reinterpret_cast<intptr_t>(taken->entry.record.data());
    return 1;
}

void window_dispatch(const window_message *message) noexcept
{
    auto *taken = const_cast<dispatched *>(reinterpret_cast<const dispatched *>(message->os));
    window_procedure procedure;
    {
        std::lock_guard<std::mutex> guard(source_guard);
        procedure = class_procedure;
    }
    if (procedure)
        procedure(taken->window, taken->entry.message, taken->entry.wparam, taken->entry.lparam);
    taken->~dispatched();
}

void *device_notification_register(window_handle window) noexcept
{
    {
        std::lock_guard<std::mutex> guard(source_guard);
        if (!the_window || as_handle(the_window->id) != window || the_window->notifications)
            return nullptr;
    }
    // The backend's source starts outside the lock: it broadcasts, which takes the lock.
    if (!hid().watch_plug_events(true))
        return nullptr;
    std::lock_guard<std::mutex> guard(source_guard);
    plug_events_watched = true;
    if (the_window && as_handle(the_window->id) == window)
        the_window->notifications = true;
    return window;
}

void device_notification_unregister(void *notification) noexcept
{
    bool watched;
    {
        std::lock_guard<std::mutex> guard(source_guard);
        if (the_window && as_handle(the_window->id) == notification)
            the_window->notifications = false;
        watched = plug_events_watched;
        plug_events_watched = false;
    }
    // The window may be gone already: the watch is stopped all the same.
    if (watched)
        hid().watch_plug_events(false);
}

void broadcast_interface(const char *path, uint32_t event) noexcept
{
    // The HID interface class {4D1E55B2-F16F-11CF-88CB-001111000030}, as Windows stores a GUID.
    static const uint8_t hid_class[16] = {0xB2, 0x55, 0x1E, 0x4D, 0x6F, 0xF1, 0xCF, 0x11,
                                          0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30};
    const std::size_t length = std::strlen(path);
    std::vector<unsigned char> record;
    try {
        const std::size_t size = offsetof(dev_broadcast_deviceinterface, name) + length + 1;
        record.resize(size < sizeof(dev_broadcast_deviceinterface) ? sizeof(dev_broadcast_deviceinterface) : size);
    } catch (const std::bad_alloc &) {
        return;
    }
    auto *header = reinterpret_cast<dev_broadcast_deviceinterface *>(record.data());
    header->size = static_cast<uint32_t>(offsetof(dev_broadcast_deviceinterface, name) + length + 1);
    header->devicetype = dbt_devtyp_deviceinterface;
    header->reserved = 0;
    std::memcpy(header->classguid, hid_class, sizeof hid_class);
    std::memcpy(record.data() + offsetof(dev_broadcast_deviceinterface, name), path, length + 1);
    post_record(record.data(), record.size(), event, true);
}

void broadcast_volume(uint32_t unitmask, uint32_t event, uint16_t flags) noexcept
{
    const dev_broadcast_volume record{sizeof(dev_broadcast_volume), dbt_devtyp_volume, 0, unitmask, flags};
    post_record(&record, sizeof record, event, false);
}

} // namespace kv4
