// What the notification window does with its messages, and the handling of monitors that arrive
// and leave: identify and open, then tell the host; tell the host, then close.
#include "events/events.h"

#include "platform/platform.h"
#include "usb/async_state.h"
#include "usb/discovery.h"
#include "usb/registry.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <deque>
#include <new>
#include <vector>

namespace kv4 {

namespace {

void notify_device(int variant, win32_device &device, int32_t code)
{
    notify_host(variant, device.port, code, device.product_name, device.serial_number, device.product_id.load());
}

void variant3_line(int variant, const char *line)
{
    if (variant == 3)
        debug_line(line);
}

// The device path of an interface broadcast, read no further than the record's declared size:
// a record is copied by that size, and a name that runs on unterminated is cut at its end.
// Windows gives an ANSI window the ANSI record, but Wine gives every window the wide one; a device
// path is never one character long, so a NUL second byte within the record means the wide form,
// which is narrowed into buffer.
const char *interface_path(const dev_broadcast_deviceinterface *record, char *buffer, std::size_t capacity)
{
    const std::size_t offset = offsetof(dev_broadcast_deviceinterface, name);
    const std::size_t bytes = record->size > offset ? record->size - offset : 0;
    const auto *name = reinterpret_cast<const unsigned char *>(record->name);
    const bool wide = bytes >= 4 && name[0] && !name[1];
    if (!wide && std::memchr(name, 0, bytes))
        return record->name; // a terminated 8-bit name
    const std::size_t step = wide ? 2 : 1;
    std::size_t n = 0;
    for (; (n + 1) * step <= bytes && n + 1 < capacity && (name[step * n] || (wide && name[step * n + 1])); ++n)
        buffer[n] = !wide || (name[2 * n + 1] == 0 && name[2 * n] < 0x80) ? static_cast<char>(name[step * n]) : '?';
    buffer[n] = 0;
    return buffer;
}

// One device-change broadcast: a HID interface or, for variants 2 and 3, a volume. A record too
// short for what its type needs is dropped.
void handle_broadcast(int variant, uintptr_t wparam, intptr_t lparam)
{
    const auto *header = reinterpret_cast<const dev_broadcast_hdr *>(lparam);
    if (header->size < sizeof(dev_broadcast_hdr))
        return;
    char path[1024];
    if (header->devicetype == dbt_devtyp_deviceinterface)
        tkusb_platform_device_event(
            variant, interface_path(reinterpret_cast<const dev_broadcast_deviceinterface *>(lparam), path, sizeof path),
            wparam == dbt_device_arrival);
    else if (header->devicetype == dbt_devtyp_volume && variant != 1 &&
             header->size >= offsetof(dev_broadcast_volume, flags) + sizeof(uint16_t))
        tkusb_platform_volume_event(variant, wparam, reinterpret_cast<const dev_broadcast_volume *>(lparam));
}

// The system sends WM_DEVICECHANGE, so any message retrieval on the notification thread (the
// modal loop of a MessageBox that a host shows from its callback) hands the procedure the next
// broadcast while one is still being handled. Such a broadcast is kept, with a copy of its record,
// and handled once the current handling is over: one event at a time, in order, and event_text
// untouched while a callback holds it. Only the notification thread gets here.
struct deferred_broadcast {
    uintptr_t wparam;
    std::vector<unsigned char> record; // one byte more than the record, zero: a name stays terminated
};
thread_local bool handling = false; // the window's thread's; a procedure called elsewhere has its own
std::deque<deferred_broadcast> deferred;

void defer(uintptr_t wparam, intptr_t lparam)
{
    const auto *header = reinterpret_cast<const dev_broadcast_hdr *>(lparam);
    const std::size_t size = std::max<std::size_t>(header->size, sizeof(dev_broadcast_volume)) + 1;
    try {
        deferred.push_back({wparam, std::vector<unsigned char>(size)});
    } catch (const std::bad_alloc &) {
        return; // lost, as a broadcast is when the system cannot deliver it
    }
    std::memcpy(deferred.back().record.data(), header, header->size);
}

// Runs handle() with the broadcasts that arrive meanwhile deferred, then those in order.
template <typename Handle> void in_turn(int variant, Handle handle)
{
    handling = true;
    handle();
    while (!deferred.empty()) {
        const deferred_broadcast next = std::move(deferred.front());
        deferred.pop_front();
        handle_broadcast(variant, next.wparam, reinterpret_cast<intptr_t>(next.record.data()));
    }
    handling = false;
}

template <int Variant>
intptr_t tkusb_platform_event_window_proc(window_handle window, uint32_t message, uintptr_t wparam, intptr_t lparam)
{
    switch (message) {
    case wm_close:
        window_destroy(window);
        return 0;
    case wm_destroy:
        window_post_quit();
        return 0;
    case wm_devicechange: {
        const bool handled = wparam == dbt_device_arrival || wparam == dbt_device_remove_pending ||
                             wparam == dbt_device_remove_complete;
        if (!handled || !lparam)
            return 0;
        if (handling)
            defer(wparam, lparam);
        else
            in_turn(Variant, [&] { handle_broadcast(Variant, wparam, lparam); });
        return 0;
    }
    default:
        return window_default(window, message, wparam, lparam);
    }
}

} // namespace

char event_text[80];

void notify_host(int variant, uint16_t port, int32_t code, const char *text, const char *serial, uint16_t product_id)
{
    const event_slots &slots = event_registration();
    if (variant == 1) {
        if (tkusb_event_callback callback = slots.callback1.load())
            callback(port, code);
    } else if (variant == 2) {
        if (tkusb_event_callback2 callback = slots.callback2.load())
            callback(port, code, text, serial);
    } else if (tkusb_event_callback3 callback = slots.callback3.load()) {
        callback(port, code, text, serial, product_id);
    }
}

window_procedure event_window_procedure(int variant)
{
    return variant == 1   ? &tkusb_platform_event_window_proc<1>
           : variant == 2 ? &tkusb_platform_event_window_proc<2>
                          : &tkusb_platform_event_window_proc<3>;
}

void tkusb_platform_scan_devices(int variant)
{
    in_turn(variant, [variant] {
        for (const std::string &path : present_paths())
            tkusb_platform_device_event(variant, path.c_str(), 1);
    });
}

void tkusb_platform_device_event(int variant, const char *path, int connect)
{
    win32_device *device = tkusb_platform_find_by_path(path);
    if (!device)
        device = tkusb_platform_identify_device(path, "Quillon5");
    if (!device) {
        if (variant == 3) {
            std::snprintf(event_text, sizeof event_text, "-->Device Event, connect=%u, Unable to load device!",
                          static_cast<unsigned>(connect));
            debug_line(event_text);
        }
    } else if (!connect) {
        notify_device(variant, *device, TKUSB_EVENT_DEVICE_DISCONNECTED);
        device->close();
        variant3_line(variant, "------>USB DLL:**Closed Device Due to Disconnect**");
    } else if (!tkusb_platform_check_device(path)) {
        variant3_line(variant, "------>**Failed tkusb_platform_check_device**");
    } else if (device->is_open.load()) {
        variant3_line(variant, "------>**Device is not open**");
    } else {
        // Opened only if still closed: discovery on a host thread may have opened it meanwhile.
        const int16_t opened = device->open_if_closed(path);
        if (opened == win32_device::already_open)
            variant3_line(variant, "------>**Device is not open**");
        else if (opened != 0)
            variant3_line(variant, "------>**Error opening device**");
        else
            notify_device(variant, *device, TKUSB_EVENT_DEVICE_CONNECTED);
    }
    tkusb_platform_wake_io_thread();
}

} // namespace kv4
