// Monitors on the simulated bus, their paths, and the plug events they cause.
#include "platform/sim/bus.h"

#include "platform/device_change.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

namespace kv4::sim {

namespace {

bool same_path(const std::string &a, const char *b)
{
    const auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
    std::size_t i = 0;
    for (; i < a.size() && b[i]; ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return i == a.size() && !b[i];
}

// Shaped like a Windows HID interface path, so that hosts parsing paths see what they expect.
std::string make_path(uint16_t product_id, unsigned socket)
{
    char path[128];
    std::snprintf(path, sizeof path, "\\\\?\\hid#vid_1a2b&pid_%04x#7&sim&0&%04u#{4d1e55b2-f16f-11cf-88cb-001111000030}",
                  product_id, socket);
    return path;
}

} // namespace

std::shared_ptr<monitor> bus::find(const void *m) const noexcept
{
    for (const auto &candidate : monitors)
        if (candidate.get() == m)
            return candidate;
    return nullptr;
}

monitor *bus::find_attached(const char *path) const noexcept
{
    for (const auto &m : monitors)
        if (m->attached && same_path(m->paths.back(), path))
            return m.get();
    return nullptr;
}

void bus::plug(monitor &m, bool new_socket)
{
    if (new_socket || m.paths.empty())
        m.paths.push_back(make_path(m.id.product_id, next_socket_++));
    changes_.push_back({true, m.paths.back(), true, 0, 0});
    const auto at = std::find_if(monitors.begin(), monitors.end(), [&](const auto &p) { return p.get() == &m; });
    std::rotate(at, at + 1, monitors.end()); // last in attach order
    m.attached = true;
}

void bus::unplug(monitor &m) noexcept
{
    if (!m.attached)
        return;
    m.unplug();
    try {
        changes_.push_back({true, m.paths.back(), false, 0, 0});
    } catch (const std::bad_alloc &) {
        // The monitor is gone either way; only the listener misses the removal.
    }
}

void bus::erase(monitor &m) noexcept
{
    monitors.erase(std::remove_if(monitors.begin(), monitors.end(), [&](const auto &p) { return p.get() == &m; }),
                   monitors.end());
}

void bus::clear() noexcept
{
    for (const auto &m : monitors)
        unplug(*m);
    finish_cancelled(clock::now(), true);
    monitors.clear();
    attach_count = 0;
    next_socket_ = 1;
    reads_by_waiter = false;
    plug_events_refused = false;
    volumes_present = 0;
    for (std::string &label : labels)
        label.clear();
}

void bus::announce_volume(uint32_t unitmask, bool arrived, uint16_t flags, const char *label)
{
    changes_.push_back({false, std::string(), arrived, unitmask, flags});
    for (unsigned drive = 0; drive < 26; ++drive)
        if (unitmask >> drive & 1)
            labels[drive] = arrived && label ? label : "";
    volumes_present = arrived ? volumes_present | unitmask : volumes_present & ~unitmask;
}

void bus::deliver() noexcept
{
    std::lock_guard<std::recursive_mutex> order(delivery_);
    for (;;) {
        change c;
        {
            std::lock_guard<std::mutex> guard(mutex);
            if (changes_.empty())
                break;
            c = std::move(changes_.front());
            changes_.pop_front();
        }
        const auto event = static_cast<uint32_t>(c.arrived ? dbt_device_arrival : dbt_device_remove_complete);
        if (c.device)
            broadcast_interface(c.path.c_str(), event);
        else
            broadcast_volume(c.unitmask, event, c.flags);
    }
}

bus &the_bus() noexcept
{
    static bus *const instance = new bus;
    return *instance;
}

std::chrono::steady_clock::time_point last_late_answer() noexcept
{
    bus &b = the_bus();
    std::lock_guard<std::mutex> guard(b.mutex);
    return b.last_late_answer;
}

unsigned record_reuses() noexcept
{
    bus &b = the_bus();
    std::lock_guard<std::mutex> guard(b.mutex);
    return b.record_reuses;
}

bool volume_present(unsigned drive) noexcept
{
    bus &b = the_bus();
    std::lock_guard<std::mutex> guard(b.mutex);
    return drive < 26 && (b.volumes_present >> drive & 1);
}

bool volume_label(unsigned drive, char *buffer, std::size_t capacity) noexcept
{
    bus &b = the_bus();
    std::lock_guard<std::mutex> guard(b.mutex);
    if (drive >= 26 || !(b.volumes_present >> drive & 1) || b.labels[drive].size() >= capacity)
        return false;
    std::memcpy(buffer, b.labels[drive].c_str(), b.labels[drive].size() + 1);
    return true;
}

} // namespace kv4::sim
