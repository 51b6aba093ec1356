// The device-change source: the hidden window through which the notification thread hears of
// HID interfaces and volumes that come and go. On Windows it is a real top-level window of class
// "KV4USBDllWin" registered for HID interface notifications; elsewhere a message queue of the same
// shape that the backend's plug-event source feeds with the same broadcast records. The core's
// window procedure and message loop are written once, against this header.
//
// One window class at a time: registering the class fails while it is registered, so only one
// notification thread can have a window. The thread that creates the window is the only one that
// gets, dispatches and destroys; any thread may post.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kv4 {

// Messages and broadcast values, numbered as Windows numbers them.
constexpr uint32_t wm_destroy = 0x0002;
constexpr uint32_t wm_close = 0x0010;
constexpr uint32_t wm_devicechange = 0x0219;
constexpr uintptr_t dbt_device_arrival = 0x8000;
constexpr uintptr_t dbt_device_remove_pending = 0x8003;
constexpr uintptr_t dbt_device_remove_complete = 0x8004;
constexpr uint32_t dbt_devtyp_volume = 2;
constexpr uint32_t dbt_devtyp_deviceinterface = 5;
constexpr uint16_t dbtf_media = 0x0001;
constexpr uint16_t dbtf_net = 0x0002;

// The broadcast records, laid out as DEV_BROADCAST_HDR, DEV_BROADCAST_VOLUME and
// DEV_BROADCAST_DEVICEINTERFACE_A.
struct dev_broadcast_hdr {
    uint32_t size;
    uint32_t devicetype;
    uint32_t reserved;
};
struct dev_broadcast_volume {
    uint32_t size;
    uint32_t devicetype;
    uint32_t reserved;
    uint32_t unitmask; // bit 0 is drive A
    uint16_t flags;    // dbtf_media, dbtf_net
};
struct dev_broadcast_deviceinterface {
    uint32_t size;
    uint32_t devicetype;
    uint32_t reserved;
    uint8_t classguid[16];
    char name[1]; // the device path, NUL-terminated, running on past the record's declared end
};

struct window_object;
using window_handle = window_object *; // null is "no window"
using window_procedure = intptr_t (*)(window_handle window, uint32_t message, uintptr_t wparam, intptr_t lparam);

// A message taken from the queue, to be dispatched.
struct window_message {
    alignas(8) unsigned char os[64];
};

// Registers the window class with procedure; false while the class is registered (also by a
// thread that has not finished ending). Unregistering it is done by the thread that registered it.
bool window_class_register(window_procedure procedure) noexcept;
void window_class_unregister() noexcept;

// Creates the hidden, never shown, top-level window of the class on the calling thread; null on
// failure. Destroying it calls the procedure with WM_DESTROY before it returns.
window_handle window_create() noexcept;
void window_destroy(window_handle window) noexcept;
// Asks the calling thread's message loop to end: its next get gives 0.
void window_post_quit() noexcept;
// What the system does with a message the procedure does not handle.
intptr_t window_default(window_handle window, uint32_t message, uintptr_t wparam, intptr_t lparam) noexcept;
// Queues a message for the window from any thread; false when there is no such window any more.
bool window_post(window_handle window, uint32_t message, uintptr_t wparam, intptr_t lparam) noexcept;
// Waits for the window's next message: greater than 0 for a message, 0 once the loop is asked to
// end, below 0 when the window is gone. Then dispatch hands it to the procedure.
int window_get_message(window_message *message, window_handle window) noexcept;
void window_dispatch(const window_message *message) noexcept;

// Asks for HID interface broadcasts to the window; null on failure. Volume broadcasts reach
// every top-level window without asking.
void *device_notification_register(window_handle window) noexcept;
void device_notification_unregister(void *notification) noexcept;

// Feeds the source as the system would, from any thread without waiting for the window: a HID
// interface broadcast naming path, and a volume broadcast. From the window's own thread (inside
// the handling of a broadcast) the procedure runs at once, as a sent message does on Windows. They go to the window of the class
// (the interface broadcast only once it has asked for notifications), and are dropped when there
// is none. The simulated bus and the backends' plug-event sources call these.
void broadcast_interface(const char *path, uint32_t event) noexcept;
void broadcast_volume(uint32_t unitmask, uint32_t event, uint16_t flags) noexcept;

} // namespace kv4
