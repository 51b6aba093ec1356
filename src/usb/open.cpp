// Opening a device for transfers: handle, report tables, buffers, events and the device lock.
#include "usb/usb_device.h"

#include "kv4usbcp.h"
#include "platform/hid_services.h"
#include "usb/report_tables.h"

#include <cstring>
#include <new>

namespace kv4 {

int16_t win32_device::open(const char *new_path)
{
    // Holding the device lock keeps a close, another open or a transfer on another thread from
    // seeing a half-built device.
    device_lock.enter();
    const int16_t result = open_locked(new_path);
    device_lock.leave();
    return result;
}

int16_t win32_device::open_locked(const char *new_path)
{
    if (handle) {
        close();
        debug_line("------>USB DLL:**Closed Device Due to Invalid Handle**");
    }
    uint32_t error = 0;
    hid_handle opened = hid().open(new_path, hid_access::transfer, &error);
    if (!opened)
        return TKUSB_SYSTEM_IO_ERR;
    {
        std::lock_guard<std::mutex> guard(guard_);
        handle = opened;
    }
    if (replace_path(new_path) != 0)
        return TKUSB_SYSTEM_IO_ERR;

    hid_preparsed preparsed = hid().get_preparsed(handle);
    if (!preparsed)
        return TKUSB_SYSTEM_IO_ERR;
    hid_caps caps;
    const bool described = hid().get_caps(preparsed, &caps) && build_report_tables(*this, caps, preparsed) == 0;
    hid().free_preparsed(preparsed);
    if (!described)
        return TKUSB_SYSTEM_IO_ERR;

    // A report of 65535 bytes would need a transfer the 16-bit length cannot express.
    const uint32_t length = compute_transfer_length(*this);
    if (length > 0xFFFF)
        return TKUSB_SYSTEM_IO_ERR;
    transfer_length = static_cast<uint16_t>(length);
    delete[] transfer_buffer;
    delete[] async_send_buffer;
    transfer_buffer = new (std::nothrow) uint8_t[length]();
    async_send_buffer = new (std::nothrow) uint8_t[length]();
    if (!transfer_buffer || !async_send_buffer)
        return TKUSB_SYSTEM_IO_ERR;

    sync_overlapped.event = event_create();
    async_overlapped.event = event_create();
    if (!sync_overlapped.event || !async_overlapped.event)
        return TKUSB_SYSTEM_IO_ERR;

    device_lock_live.store(true);
    is_open.store(1);
    return 0;
}

} // namespace kv4
