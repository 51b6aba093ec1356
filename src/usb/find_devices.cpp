// Discovery of the monitors present, and reopening a port.
#include "usb/discovery.h"

#include "kv4usbcp.h"
#include "platform/hid_services.h"
#include "usb/async_state.h"
#include "usb/registry.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace kv4 {

std::vector<std::string> present_paths()
{
    std::vector<std::string> paths;
    try {
        hid().list_paths([](const char *path, void *context) { static_cast<std::vector<std::string> *>(context)->emplace_back(path); },
                         &paths);
    } catch (...) {
        // Without memory for the list, the devices found so far are probed.
    }
    return paths;
}

namespace {

struct port_list {
    uint16_t *ports;
    uint8_t count;
};

} // namespace

int16_t tkusb_platform_find_devices(const char *filter, uint16_t *ports, uint8_t *count)
{
    for (const std::string &path : present_paths()) {
        win32_device *device = tkusb_platform_identify_device(path.c_str(), filter);
        const bool accepted = tkusb_platform_check_device(path.c_str());
        if (device && accepted && !device->is_open.load())
            device->open_if_closed(path.c_str()); // a device that fails to open stays closed and unlisted
    }
    if (const int16_t result = tkusb_platform_lock())
        return result;
    port_list list{ports, 0};
    tkusb_platform_for_each(
        [](win32_device *device, void *context) {
            auto *open_ports = static_cast<port_list *>(context);
            if (device->is_open.load())
                open_ports->ports[open_ports->count++] = device->port;
        },
        &list);
    if (count) {
        *count = list.count;
        tkusb_platform_wake_io_thread();
    }
    return tkusb_platform_unlock();
}

int16_t tkusb_platform_reset_port(win32_device *device)
{
    if (!device)
        return TKUSB_INVALID_PORT_ERR;
    char *path = device->copy_path();
    if (!path)
        return TKUSB_INVALID_PORT_ERR;
    int16_t result = device->is_open.load() ? device->close() : 0;
    if (result == 0) {
        if (!tkusb_platform_check_device(path))
            result = TKUSB_OPEN_DEVICE_ERR;
        else if ((result = device->open_if_closed(path)) == win32_device::already_open)
            result = 0; // discovery or an arrival opened it meanwhile
    }
    std::free(path);
    return result;
}

} // namespace kv4
