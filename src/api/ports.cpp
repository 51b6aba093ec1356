// Discovery, reopening a port, and feature reports.
#include "api/dispatch.h"
#include "kv4usbcp.h"
#include "platform/boundary.h"
#include "usb/discovery.h"
#include "usb/feature.h"

using namespace kv4;

extern "C" {

KV4USBCP_API int16_t tkcmdsetUSB_find_devices(const char *filter, uint8_t *count, uint16_t *ports)
{
    return guarded([&]() -> int16_t {
        if (!library_initialised.load())
            return TKUSB_NO_PORT_INIT_ERR;
        if (!filter || !ports)
            return TKUSB_INVALID_PARAMETER;
        return tkusb_platform_find_devices(filter, ports, count);
    });
}

KV4USBCP_API int16_t tkcmdsetUSB_reset_port(uint16_t port)
{
    return guarded([port] {
        return dispatch(port, init_check::not_required,
                        [](win32_device &device) { return tkusb_platform_reset_port(&device); });
    });
}

KV4USBCP_API int16_t tkcmdsetUSB_set_feature(uint16_t port, uint16_t value, uint16_t /*unused*/)
{
    return guarded([port, value] {
        return dispatch(port, init_check::required, [value](win32_device &device) {
            const uint8_t payload[2] = {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
            return set_feature(&device, payload, sizeof payload);
        });
    });
}

} // extern "C"
