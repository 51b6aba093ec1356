// Selection of the active HID backend.
#include "platform/hid_services.h"

#include <atomic>

namespace kv4 {

hid_services &default_hid_services() noexcept; // chosen at link time, one per library or program

namespace {
std::atomic<hid_services *> active_services{nullptr};
}

hid_services &hid() noexcept
{
    // Asked for several times in every transfer: the link-time choice is looked up once.
    static hid_services &linked = default_hid_services();
    hid_services *services = active_services.load(std::memory_order_acquire);
    return services ? *services : linked;
}

void set_hid_services(hid_services *services) noexcept { active_services.store(services, std::memory_order_release); }

} // namespace kv4
