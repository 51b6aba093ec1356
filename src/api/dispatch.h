// The glue every port operation goes through: library started, port known, then the device.
#pragma once

#include "kv4usbcp.h"
#include "usb/registry.h"

#include <atomic>
#include <cstdint>

namespace kv4 {

// Set by a successful tkcmdsetUSB_init, cleared by tkcmdsetUSB_shutdown_all.
extern std::atomic<bool> library_initialised;

enum class init_check { required, not_required };

// TKUSB_NO_PORT_INIT_ERR before initialisation (where required), TKUSB_INVALID_PORT_ERR for a
// port without a device object, else operation(device). The platform lock is held only for the
// lookup, never while the operation runs.
template <typename Operation>
int16_t dispatch(uint16_t port, init_check check, Operation operation)
{
    if (check == init_check::required && !library_initialised.load())
        return TKUSB_NO_PORT_INIT_ERR;
    win32_device *device = tkusb_platform_get_device(port);
    if (!device)
        return TKUSB_INVALID_PORT_ERR;
    return operation(*device);
}

} // namespace kv4
