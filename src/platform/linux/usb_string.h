// A USB string descriptor read by index from a device's usbfs node (/dev/bus/usb/BBB/DDD).
//
// A monitor keeps its firmware, hardware and boot-loader versions in string descriptors of its
// own numbering. Through hidraw Linux offers only the strings the HID core knew to ask for (the
// product and serial), never an arbitrary index; the HID device's USB parent answers any index to
// a GET_DESCRIPTOR control transfer, which usbfs lets a program make without claiming an
// interface and so without disturbing usbhid. The caller finds the node (sysfs names the parent's
// bus and device numbers); nothing here needs udev.
//
// The answer is untrusted: a descriptor that is not a string descriptor, claims more bytes than
// arrived or has an odd length is refused, and nothing past what arrived is read.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kv4 {

// Reads string descriptor `index` (1-255) in US English into buffer, whose capacity is in bytes,
// as HidD_GetIndexedString takes it: at most capacity / 2 UTF-16 characters, the terminator
// included when it fits; a string that fills the buffer, or is cut to fit, comes unterminated.
// False when the node cannot be opened (missing, no permission), the device stalls or does not
// answer within a second, the answer is malformed, or capacity holds no character. Blocks for the
// transfer; opens and closes the node on every call.
bool read_usb_string(const char *usb_device_node, unsigned index, uint16_t *buffer, std::size_t capacity) noexcept;
// The text of a string descriptor of which received bytes arrived (at most 255), into buffer as
// read_usb_string delivers it; false when the answer is malformed or capacity holds no character.
bool string_descriptor_text(const uint8_t *answer, int received, uint16_t *buffer, std::size_t capacity) noexcept;

} // namespace kv4
