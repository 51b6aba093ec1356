// CRC-32 with the zlib polynomial, the check value monitors compute over their firmware image.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kv4usb {

uint32_t crc32(const uint8_t *data, std::size_t length);

} // namespace kv4usb
