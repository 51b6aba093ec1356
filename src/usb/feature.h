// Feature reports and the per-port buffer mode.
#pragma once

#include "usb/usb_device.h"

#include <cstdint>

namespace kv4 {

// Sends payload in the smallest feature report that holds it. Takes the device lock and refuses
// a port busy with an exchange (TKUSB_ASYNC_INPROGRESS_ERR), since both use the transfer buffer.
// A refusal by the device closes the port (TKUSB_SET_FEATURE_ERR).
int16_t set_feature(win32_device *device, const uint8_t *payload, uint16_t payload_length);

// The mode is stored unchecked; any value but TKUSB_BUFFER_MODE_COMMAND acts as response mode.
int16_t set_buffer_mode(win32_device *device, uint8_t mode);
int16_t get_buffer_mode(win32_device *device, uint8_t *mode);

// Reads USB string descriptor `index` into buffer (length bytes, the system's 8-bit code page).
// A refusal by the device is taken as a sign that it is gone: the port is closed and the result
// is TKUSB_GET_STRING_ERR.
int16_t fetch_device_string(win32_device *device, unsigned index, char *buffer, uint8_t length);

} // namespace kv4
