// Text as the HID services deliver it: UTF-16 strings into the core's buffers. The simulated bus
// and the Linux backend read their strings as UTF-8 (a monitor's description, sysfs attributes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kv4 {

// UTF-8 to UTF-16; a malformed sequence becomes U+FFFD, as a device's firmware would not care.
std::u16string utf8_to_utf16(const char *text);

// Copies text into buffer of capacity bytes, cut to fit and always terminated, so that a long
// string cannot run past the core's buffer; false when not even the terminator fits.
bool copy_utf16(const std::u16string &text, uint16_t *buffer, std::size_t capacity) noexcept;

} // namespace kv4
