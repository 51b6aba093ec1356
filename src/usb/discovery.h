// Finding the monitors among the HID devices present, registering each once per serial number,
// and opening them.
#pragma once

#include "usb/usb_device.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kv4 {

// The paths of the HID interfaces present, in the system's order. They are collected before any
// is probed, so that no backend lock is held while devices are opened.
std::vector<std::string> present_paths();

// Scans the HID interfaces present, identifies, registers and opens the monitors whose product
// string contains filter, then lists every open registered port in registry order. The count
// (when given) is stored last, and then the asynchronous I/O thread is woken.
int16_t tkusb_platform_find_devices(const char *filter, uint16_t *ports, uint8_t *count);

// The registered device object of the monitor at path, registering a new one for a serial
// number not seen before; null when the device cannot be probed or its product string lacks the
// filter. Never opens the device for transfers.
win32_device *tkusb_platform_identify_device(const char *path, const char *filter);

// True when the interface at path is present and described; refreshes the product ID of the
// registered device with the same serial number.
bool tkusb_platform_check_device(const char *path);

// Closes a device and opens it again by its stored path.
int16_t tkusb_platform_reset_port(win32_device *device);

// Cuts white space (isspace) at both ends, in place; returns the first kept character.
char *trim_whitespace(char *text);

} // namespace kv4
