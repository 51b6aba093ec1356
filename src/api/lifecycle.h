// Library lifecycle helpers shared with the tests.
#pragma once

#include <cstdint>

namespace kv4 {

// The version gate of tkcmdsetUSB_init: refuses a class whose family byte is 0, family 2 with
// an index of 10 or less, and family 1 with index 1 or 2.
bool os_version_accepted(uint16_t version_class);

} // namespace kv4
