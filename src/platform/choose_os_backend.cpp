// Links the operating system's HID services as the default backend.
#include "platform/hid_services.h"

namespace kv4 {
hid_services &os_hid_services() noexcept;
hid_services &default_hid_services() noexcept { return os_hid_services(); }
} // namespace kv4
