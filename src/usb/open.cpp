// Opening a device for transfers: handle, report tables, buffers, events and the device lock.
#include "usb/usb_device.h"

#include "kv4usbcp.h"
#include "platform/hid_services.h"
#include "usb/async_state.h"
#include "usb/report_tables.h"

#include <mutex>
#include <new>

namespace kv4 {

namespace {

bool copy_reports(const tkusb_list<report_entry> &from, tkusb_list<report_entry> &to)
{
    for (const report_entry *entry : from) {
        auto *copy = new (std::nothrow) report_entry(*entry);
        if (!copy || !to.append(copy)) {
            delete copy;
            return false;
        }
    }
    return true;
}

} // namespace

int16_t win32_device::open_if_closed(const char *new_path)
{
    // Holding the device lock keeps a close, another open or a transfer on another thread from
    // seeing a half-built device, and makes the test for an open port and the open one step.
    device_lock.enter();
    int16_t result = TKUSB_SYSTEM_IO_ERR; // a device shut down with the library stays closed
    if (is_open.load())
        result = already_open;
    else if (!retired.load()) {
        result = open_locked(new_path);
        if (result != 0)
            abandon_open();
    }
    device_lock.leave();
    if (result == 0)
        tkusb_platform_wake_io_thread(); // its wait set gains the port
    return result;
}

int16_t win32_device::open_locked(const char *new_path)
{
    bool half_open;
    {
        std::lock_guard<std::mutex> guard(guard_);
        half_open = open_ != nullptr || open_failed_;
    }
    if (half_open) {
        close();
        debug_line("------>USB DLL:**Closed Device Due to Invalid Handle**");
    }
    uint32_t error = 0;
    hid_handle opened = hid().open(new_path, hid_access::transfer, &error);
    if (!opened)
        return TKUSB_SYSTEM_IO_ERR;
    open_port *state = open_port::create(opened);
    if (!state) {
        hid().close(opened);
        return TKUSB_SYSTEM_IO_ERR;
    }
    // Stored at once, so that whatever fails from here on is released by abandon_open().
    {
        std::lock_guard<std::mutex> guard(guard_);
        open_ = state;
    }
    if (replace_path(new_path) != 0)
        return TKUSB_SYSTEM_IO_ERR;

    hid_preparsed preparsed = hid().get_preparsed(opened);
    if (!preparsed)
        return TKUSB_SYSTEM_IO_ERR;
    hid_caps caps;
    clear_report_tables(); // what an earlier failed open may have built
    const bool described = hid().get_caps(preparsed, &caps) && build_report_tables(*this, caps, preparsed) == 0;
    hid().free_preparsed(preparsed);
    if (!described)
        return TKUSB_SYSTEM_IO_ERR;

    // A report of 65535 bytes would need a transfer the 16-bit length cannot express.
    const uint32_t length = compute_transfer_length(*this);
    if (length > 0xFFFF)
        return TKUSB_SYSTEM_IO_ERR;
    transfer_length = static_cast<uint16_t>(length);
    // Every transfer is transfer_length bytes, while the system takes writes of at most the output
    // report length and reads of at least the input report length: with a layout whose largest
    // report is a feature report, or whose value items do not fill a report, transfers fail, and
    // this line is the diagnosis.
    if (length != caps.output_report_bytes || length < caps.input_report_bytes)
        debug_format("-->USB DLL: transfer length %u, but output reports are %u bytes and input reports %u",
                     static_cast<unsigned>(length), static_cast<unsigned>(caps.output_report_bytes),
                     static_cast<unsigned>(caps.input_report_bytes));
    if (!state->allocate_buffers(static_cast<uint16_t>(length)) || !copy_reports(input_reports, state->input_reports) ||
        !async_event)
        return TKUSB_SYSTEM_IO_ERR;

    device_lock_live.store(true);
    is_open.store(1);
    return 0;
}

// An open that failed after it opened the handle: the port stays closed, and the next open first
// closes what the failure left, saying so. The handle itself is released now rather than then:
// while it is held the monitor cannot even be probed, so discovery would never find it again.
void win32_device::abandon_open()
{
    open_port *abandoned;
    {
        std::lock_guard<std::mutex> guard(guard_);
        abandoned = open_;
        open_ = nullptr;
        open_failed_ = abandoned != nullptr;
    }
    if (abandoned)
        abandoned->release();
}

} // namespace kv4
