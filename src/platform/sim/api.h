// Shared by the C interface's files: monitor handles and the checks every function makes.
#pragma once

#include "kv4usbcp_sim.h"
#include "platform/boundary.h"
#include "platform/sim/bus.h"

namespace kv4::sim {

constexpr int out_of_memory = -10118; // TKUSB_SYSTEM_MEMORY_ERR

// Every function of the C interface runs its body in guarded(): no exception reaches the host.
using kv4::guarded;

inline kv4sim_monitor *as_c(monitor *m) noexcept { return reinterpret_cast<kv4sim_monitor *>(m); }

// Runs f(monitor &) under the bus lock; KV4SIM_INVALID_PARAMETER when m is no monitor of the bus.
template <class F> int on_bus(const kv4sim_monitor *m, F f)
{
    std::lock_guard<std::mutex> guard(the_bus().mutex);
    const std::shared_ptr<monitor> found = the_bus().find(m);
    return found ? f(*found) : KV4SIM_INVALID_PARAMETER;
}

// Runs f(device &, monitor &) under the monitor's device lock, the bus lock not held.
template <class F> int on_device(const kv4sim_monitor *m, F f)
{
    std::shared_ptr<monitor> found;
    {
        std::lock_guard<std::mutex> guard(the_bus().mutex);
        found = the_bus().find(m);
    }
    if (!found)
        return KV4SIM_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(found->device_lock);
    return f(found->dev, *found);
}

} // namespace kv4::sim
