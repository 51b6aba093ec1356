// HID device services over the simulated bus: finding and opening monitors, their strings and
// their report layout.
#include "platform/sim/bus.h"
#include "platform/sim/hidraw_node.h"
#include "platform/sim/services.h"

#include <algorithm>
#include <cstdio>
#include <new>

namespace kv4 {

hid_services &sim_hid_services() noexcept
{
    static sim::services instance;
    return instance;
}

} // namespace kv4

namespace kv4::sim {

namespace {

constexpr uint32_t error_file_not_found = 2;
constexpr uint32_t error_not_enough_memory = 8;

// The parsed report descriptor: a copy of the layout, so that it outlives the handle.
struct preparsed {
    std::vector<kv4sim_value_cap> caps;
    bool refuse_value_caps;
};

preparsed *as_sim(hid_preparsed p) { return reinterpret_cast<preparsed *>(p); }

void set_error(uint32_t *last_error, uint32_t code)
{
    if (last_error)
        *last_error = code;
}

// As HidD_Get*String deliver a string: cut to capacity / 2 characters, terminated only when the
// terminator still fits, so that a string filling the buffer comes unterminated.
bool read_string(hid_handle h, std::u16string identity::*text, uint16_t *buffer, std::size_t capacity,
                 bool indexed = false)
{
    std::lock_guard<std::mutex> guard(the_bus().mutex);
    const monitor *m = sim::as_sim(h)->owner;
    if (!m || m->fault(KV4SIM_FAULT_REFUSE_STRINGS) || (indexed && m->fault(KV4SIM_FAULT_REFUSE_INDEXED_STRINGS)) ||
        !buffer || capacity < 2)
        return false;
    const std::u16string &chars = m->id.*text;
    const std::size_t n = std::min(chars.size(), capacity / 2);
    std::copy(chars.begin(), chars.begin() + static_cast<std::ptrdiff_t>(n), buffer);
    if (n < capacity / 2)
        buffer[n] = 0;
    return true;
}

} // namespace

void services::list_paths(void (*visit)(const char *path, void *context), void *context)
{
    // Copied first: the visitor may well open the devices it is shown.
    std::vector<std::string> paths;
    try {
        std::lock_guard<std::mutex> guard(the_bus().mutex);
        for (const auto &m : the_bus().monitors)
            if (m->attached)
                paths.push_back(m->paths.back());
    } catch (const std::bad_alloc &) {
        return;
    }
    for (const std::string &path : paths)
        visit(path.c_str(), context);
}

bool services::watch_plug_events(bool watch)
{
    std::lock_guard<std::mutex> guard(the_bus().mutex);
    return !watch || !the_bus().plug_events_refused;
}

bool services::check_present(const char *path)
{
    std::lock_guard<std::mutex> guard(the_bus().mutex);
    return path && the_bus().find_attached(path);
}

hid_handle services::open(const char *path, hid_access access, uint32_t *last_error)
{
    auto *h = new (std::nothrow) handle;
    if (!h) {
        set_error(last_error, error_not_enough_memory);
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(the_bus().mutex);
    monitor *m = path ? the_bus().find_attached(path) : nullptr;
    if (!m || m->holder || m->fault(KV4SIM_FAULT_HELD_OPEN)) {
        set_error(last_error, m ? error_sharing_violation : error_file_not_found);
        delete h;
        return nullptr;
    }
    if (access == hid_access::transfer && the_bus().reads_by_waiter && !(h->node = open_node(m->input_bytes))) {
        set_error(last_error, error_not_enough_memory);
        delete h;
        return nullptr;
    }
    h->owner = m;
    h->access = access;
    m->holder = h;
    m->input.clear(); // a new handle starts with an empty input queue, as on Windows
    return as_hid(h);
}

void services::close(hid_handle hh)
{
    handle *h = sim::as_sim(hh);
    if (!h)
        return;
    {
        // As on Windows, closing only cancels: the transfers end a little later, after the
        // handle is gone.
        std::lock_guard<std::mutex> guard(the_bus().mutex);
        while (h->pending)
            the_bus().cancel(*h, h->pending);
        if (h->owner)
            h->owner->holder = nullptr;
        close_node(h->node);
    }
    delete h;
}

uint32_t services::last_error(hid_handle h)
{
    std::lock_guard<std::mutex> guard(the_bus().mutex);
    return h ? sim::as_sim(h)->last_error : 0;
}

bool services::product_string(hid_handle h, uint16_t *buffer, std::size_t capacity)
{
    return read_string(h, &identity::product, buffer, capacity);
}

bool services::serial_string(hid_handle h, uint16_t *buffer, std::size_t capacity)
{
    return read_string(h, &identity::serial, buffer, capacity);
}

bool services::indexed_string(hid_handle h, unsigned index, uint16_t *buffer, std::size_t capacity)
{
    static std::u16string identity::*const texts[] = {&identity::serial, &identity::fw_version, &identity::hw_version,
                                                      &identity::loader_version};
    return index >= 3 && index <= 6 && read_string(h, texts[index - 3], buffer, capacity, true);
}

bool services::product_id(hid_handle h, uint16_t *product_id)
{
    std::lock_guard<std::mutex> guard(the_bus().mutex);
    const monitor *m = sim::as_sim(h)->owner;
    if (!m || !product_id)
        return false;
    *product_id = m->id.product_id;
    return true;
}

hid_preparsed services::get_preparsed(hid_handle h)
{
    std::lock_guard<std::mutex> guard(the_bus().mutex);
    const monitor *m = sim::as_sim(h)->owner;
    if (!m || m->fault(KV4SIM_FAULT_REFUSE_PREPARSED))
        return nullptr;
    try {
        return reinterpret_cast<hid_preparsed>(new preparsed{m->id.caps, m->fault(KV4SIM_FAULT_REFUSE_VALUE_CAPS)});
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

bool services::get_caps(hid_preparsed p, hid_caps *caps)
{
    if (!p || !caps)
        return false;
    *caps = hid_caps{};
    uint16_t *counts[] = {&caps->input_value_caps, &caps->output_value_caps, &caps->feature_value_caps};
    uint16_t *lengths[] = {&caps->input_report_bytes, &caps->output_report_bytes, &caps->feature_report_bytes};
    for (const kv4sim_value_cap &cap : as_sim(p)->caps) {
        ++*counts[cap.type];
        *lengths[cap.type] = static_cast<uint16_t>(report_bytes(as_sim(p)->caps, cap.type));
    }
    return true;
}

bool services::get_value_caps(hid_preparsed p, hid_report_type type, hid_value_cap *caps, uint16_t *count)
{
    if (!p || !count || as_sim(p)->refuse_value_caps)
        return false;
    uint16_t n = 0;
    for (const kv4sim_value_cap &cap : as_sim(p)->caps)
        if (cap.type == static_cast<uint8_t>(type) && n < *count)
            caps[n++] = {cap.usage, cap.report_id, cap.report_count};
    *count = n;
    return true;
}

void services::free_preparsed(hid_preparsed p) { delete as_sim(p); }

namespace {

// The drive a root path such as "E:\\" names (0 is A:), or 26 for none.
unsigned drive_of(const char *root)
{
    const unsigned letter = root ? static_cast<unsigned char>(root[0]) & ~0x20u : 0;
    return letter >= 'A' && letter <= 'Z' && root[1] == ':' ? letter - 'A' : 26;
}

} // namespace

bool services::volume_name(const char *root, char *buffer, uint32_t capacity)
{
    const unsigned drive = drive_of(root);
    if (!volume_present(drive))
        return false;
    return std::snprintf(buffer, capacity, "\\\\?\\Volume{5e1a1a00-0000-0000-0000-0000000000%02X}\\", drive) <
           static_cast<int>(capacity);
}

bool services::volume_label(const char *root, char *buffer, uint32_t capacity)
{
    return sim::volume_label(drive_of(root), buffer, capacity);
}

} // namespace kv4::sim
