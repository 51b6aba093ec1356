// The C interface: plugging simulated monitors in and out.
#include "platform/sim/api.h"

#include <new>

using namespace kv4::sim;

extern "C" {

KV4SIM_API kv4sim_monitor *kv4sim_attach(const kv4sim_monitor_desc *desc)
{
    return guarded([&]() -> kv4sim_monitor * {
        if (!valid_description(desc))
            return nullptr;
        bus &b = the_bus();
        unsigned number;
        {
            std::lock_guard<std::mutex> guard(b.mutex);
            number = ++b.attach_count;
        }
        // Made outside the lock: its memories take a while to clear.
        auto m = std::make_shared<monitor>(make_identity(desc, number));
        {
            std::lock_guard<std::mutex> guard(b.mutex);
            b.monitors.push_back(m);
            b.plug(*m, true);
        }
        b.deliver();
        return as_c(m.get());
    });
}

KV4SIM_API int kv4sim_detach(kv4sim_monitor *m)
{
    return guarded([&]() -> int {
        const int result = on_bus(m, [](monitor &found) {
            the_bus().unplug(found);
            return 0;
        });
        the_bus().deliver();
        return result;
    });
}

KV4SIM_API int kv4sim_reattach(kv4sim_monitor *m, int new_socket)
{
    return guarded([&]() -> int {
        const int result = on_bus(m, [new_socket](monitor &found) {
            if (found.attached)
                return KV4SIM_INVALID_PARAMETER;
            try {
                the_bus().plug(found, new_socket != 0);
            } catch (const std::bad_alloc &) {
                return out_of_memory;
            }
            return 0;
        });
        the_bus().deliver();
        return result;
    });
}

KV4SIM_API int kv4sim_reattach_at(kv4sim_monitor *m, const char *path)
{
    const int result = on_bus(m, [path](monitor &found) {
        bus &b = the_bus();
        if (found.attached || !path || !*path || b.find_attached(path))
            return KV4SIM_INVALID_PARAMETER;
        try {
            found.paths.emplace_back(path);
            b.plug(found, false); // on the path just given
        } catch (const std::bad_alloc &) {
            return out_of_memory;
        }
        return 0;
    });
    the_bus().deliver();
    return result;
}

KV4SIM_API void kv4sim_destroy(kv4sim_monitor *m)
{
    guarded([&] {
        bus &b = the_bus();
        std::shared_ptr<monitor> found; // freed after the lock is released
        {
            std::lock_guard<std::mutex> guard(b.mutex);
            found = b.find(m);
            if (!found)
                return;
            b.unplug(*found);
            b.erase(*found);
        }
        b.deliver();
    });
}

KV4SIM_API void kv4sim_reset(void)
{
    guarded([&] {
        bus &b = the_bus();
        {
            std::unique_lock<std::mutex> lock(b.mutex);
            b.clear();
            b.stop_timer(lock);
        }
        b.deliver();
    });
}

KV4SIM_API const char *kv4sim_path(const kv4sim_monitor *m)
{
    return guarded([&]() -> const char * {
        std::lock_guard<std::mutex> guard(the_bus().mutex);
        const std::shared_ptr<monitor> found = the_bus().find(m);
        return found ? found->paths.back().c_str() : nullptr;
    });
}

} // extern "C"
