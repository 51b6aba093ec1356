// Device information: identification strings, maximum report size and buffer mode of a port.
#include "api/dispatch.h"
#include "api/port_operations.h"
#include "kv4usbcp.h"
#include "platform/boundary.h"
#include "usb/feature.h"

using namespace kv4;

namespace {

// USB string descriptor indices the monitor publishes.
constexpr unsigned serial_number_index = 3;
constexpr unsigned firmware_version_index = 4;
constexpr unsigned hardware_version_index = 5;
constexpr unsigned loader_version_index = 6;

int16_t device_string(uint16_t port, unsigned index, char *buffer, uint8_t length)
{
    return guarded([&]() -> int16_t {
        if (!buffer && length)
            return TKUSB_INVALID_PARAMETER;
        return dispatch(port, init_check::required, [&](win32_device &device) {
            return fetch_device_string(&device, index, buffer, length);
        });
    });
}

} // namespace

extern "C" {

KV4USBCP_API int16_t tkcmdsetUSB_serial_number(uint16_t port, char *buffer, uint8_t length)
{
    return device_string(port, serial_number_index, buffer, length);
}

KV4USBCP_API int16_t tkcmdsetUSB_fw_version(uint16_t port, char *buffer, uint8_t length)
{
    return device_string(port, firmware_version_index, buffer, length);
}

KV4USBCP_API int16_t tkcmdsetUSB_hw_version(uint16_t port, char *buffer, uint8_t length)
{
    return device_string(port, hardware_version_index, buffer, length);
}

KV4USBCP_API int16_t tkcmdsetUSB_loader_fw_version(uint16_t port, char *buffer, uint8_t length)
{
    return device_string(port, loader_version_index, buffer, length);
}

KV4USBCP_API int16_t tkcmdsetUSB_max_report_size(uint16_t port, uint16_t *size)
{
    return guarded([&]() -> int16_t {
        if (!size)
            return TKUSB_INVALID_PARAMETER;
        *size = 0;
        const int16_t result = port_max_report_size(port, size);
        if (*size > 500)
            *size = 500;
        return result;
    });
}

KV4USBCP_API int16_t tkcmdsetUSB_get_buffer_mode(uint16_t port, uint8_t *mode)
{
    return guarded([&]() -> int16_t {
        if (!mode)
            return TKUSB_INVALID_PARAMETER;
        return port_get_buffer_mode(port, mode);
    });
}

} // extern "C"
