// Device-change notification: the host's event callbacks, the notification thread that owns the
// hidden window, and the handling of each device and volume broadcast. Variants 1 to 3 differ only
// in what their callback receives; they share the thread, the window and the handling.
#pragma once

#include "kv4usbcp.h"
#include "platform/device_change.h"

#include <atomic>
#include <cstdint>

namespace kv4 {

// One registration's callback; only the member of its variant is set.
struct event_callback {
    tkusb_event_callback v1 = nullptr;
    tkusb_event_callback2 v2 = nullptr;
    tkusb_event_callback3 v3 = nullptr;
};

// The registration state. The callback slots are read by the notification thread at every call,
// so that a slot cleared by an unregistration is never called, even by a thread that outlives it.
struct event_slots {
    std::atomic<tkusb_event_callback> callback1{nullptr};
    std::atomic<tkusb_event_callback2> callback2{nullptr};
    std::atomic<tkusb_event_callback3> callback3{nullptr};
    std::atomic<window_handle> window{nullptr}; // written by the notification thread
};
event_slots &event_registration();

// Stores the callback of a variant and starts the notification thread, returning once the thread
// has its window and device notification: 0; TKUSB_EVENT_REGISTER_ERR while any variant is
// registered (one thread serves one variant at a time), when the thread of an earlier
// registration is still ending, or when the thread or its window cannot be set up;
// TKUSB_EVENT_TIMEOUT_ERR when the thread has not set up in 5000 ms (it then ends without a
// window whenever it runs).
int16_t tkusb_platform_register_events(int variant, event_callback callback);
// Asks the thread to end and waits 1000 ms for it: 0; TKUSB_EVENT_REGISTER_ERR when the variant
// is not registered; TKUSB_EVENT_TIMEOUT_ERR when the thread did not end in time (as when called
// from its own callback). The registration is cleared either way.
int16_t tkusb_platform_unregister_events(int variant);

// The notification thread; its argument is the registrar's startup record.
unsigned tkusb_platform_event_thread(void *argument);
// The window procedure of a variant's notification window.
window_procedure event_window_procedure(int variant);
// Handles every monitor present as an arrival.
void tkusb_platform_scan_devices(int variant);
// One arrival (connect non-zero) or removal of the HID interface at path.
void tkusb_platform_device_event(int variant, const char *path, int connect);
// One volume broadcast, variants 2 and 3.
void tkusb_platform_volume_event(int variant, uintptr_t wparam, const dev_broadcast_volume *record);

// The letter of the lowest drive in the mask; '[' when none of A: to Z: is in it.
char tkusb_drive_letter(uint32_t unitmask);

// Scratch text of the notification thread: volume texts and variant 3's debug line.
extern char event_text[80];

// Calls the variant's callback if its slot is set. Texts and product ID go to variants 2 and 3.
void notify_host(int variant, uint16_t port, int32_t code, const char *text, const char *serial,
                 uint16_t product_id);

} // namespace kv4
