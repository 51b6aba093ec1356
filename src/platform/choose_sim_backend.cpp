// Links the simulated bus as the default backend.
#include "platform/hid_services.h"

namespace kv4 {
hid_services &sim_hid_services() noexcept;
hid_services &default_hid_services() noexcept { return sim_hid_services(); }
} // namespace kv4
