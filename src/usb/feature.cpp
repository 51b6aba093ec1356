// Feature reports, buffer mode and device strings: the port operations beside the transaction.
#include "usb/feature.h"

#include "kv4usbcp.h"
#include "platform/hid_services.h"
#include "platform/platform.h"
#include "usb/report_tables.h"
#include "usb/transaction.h"

#include <cstring>

namespace kv4 {

namespace {

// Runs operation on an open port under its device lock, with the port claimed as a transaction
// claims it: the operation uses the transfer buffer, and its synchronous request must not run
// beside an overlapped transfer on the handle.
template <typename Operation>
int16_t with_claimed_port(win32_device *device, Operation operation)
{
    if (!device)
        return TKUSB_INVALID_PORT_ERR;
    if (!device->is_open.load())
        return TKUSB_DEVICE_CLOSED_ERR;
    if (const int16_t result = lock_open_device(*device))
        return result;
    int16_t result = TKUSB_DEVICE_CLOSED_ERR;
    if (port_ref port = device->acquire()) {
        if (device->compare_and_set_state(TKUSB_IO_IDLE, TKUSB_IO_SYNC)) {
            result = operation(*device, *port);
            device->compare_and_set_state(TKUSB_IO_SYNC, TKUSB_IO_IDLE);
        } else {
            result = TKUSB_ASYNC_INPROGRESS_ERR;
        }
    }
    device->unlock();
    return result;
}

int16_t send_feature(win32_device &device, open_port &port, const uint8_t *payload, uint16_t payload_length)
{
    hid().flush_input(port.handle);
    report_entry report;
    if (const int16_t result = select_report(device, report_feature, payload_length, &report))
        return result;
    port.transfer_buffer[0] = report.report_id;
    std::memcpy(port.transfer_buffer + 1, payload, payload_length);
    if (hid().set_feature(port.handle, port.transfer_buffer, port.transfer_length))
        return 0;
    debug_line("------>USB DLL:**Closed Device Due to Set Feature Error**");
    device.close();
    return TKUSB_SET_FEATURE_ERR;
}

int16_t fetch_string(win32_device &device, open_port &port, unsigned index, char *buffer, uint8_t length)
{
    uint16_t staging[128] = {}; // zeroed, so a string delivered without terminator ends anyway
    if (!hid().indexed_string(port.handle, index, staging, 125)) {
        device.close();
        debug_line("------>USB DLL:**Closed Device Due to Get String Error**");
        return TKUSB_GET_STRING_ERR;
    }
    utf16_to_ansi(staging, buffer, length);
    return 0;
}

} // namespace

int16_t set_feature(win32_device *device, const uint8_t *payload, uint16_t payload_length)
{
    return with_claimed_port(device, [&](win32_device &open_device, open_port &port) {
        return send_feature(open_device, port, payload, payload_length);
    });
}

int16_t set_buffer_mode(win32_device *device, uint8_t mode)
{
    if (!device)
        return TKUSB_INVALID_PORT_ERR;
    device->buffer_mode.store(mode);
    return 0;
}

int16_t get_buffer_mode(win32_device *device, uint8_t *mode)
{
    if (!device)
        return TKUSB_INVALID_PORT_ERR;
    *mode = device->buffer_mode.load();
    return 0;
}

int16_t fetch_device_string(win32_device *device, unsigned index, char *buffer, uint8_t length)
{
    return with_claimed_port(device, [&](win32_device &open_device, open_port &port) {
        return fetch_string(open_device, port, index, buffer, length);
    });
}

} // namespace kv4
