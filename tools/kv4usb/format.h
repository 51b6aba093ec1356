// Number formatting shared by the commands' reports.
#pragma once

#include <cstdint>
#include <string>

namespace kv4usb {

// "0x" and digits hexadecimal digits, upper case ("0x0000FFFF").
std::string hex(uint64_t value, int digits = 8);

// value with places digits after the point ("12.5").
std::string decimal(double value, int places);

} // namespace kv4usb
