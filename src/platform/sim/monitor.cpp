// A simulated monitor's life on the bus and its answers.
#include "platform/sim/monitor.h"

#include "platform/sim/bus.h"
#include "platform/sim/hidraw_node.h"

#include <algorithm>
#include <new>

namespace kv4::sim {

std::size_t report_bytes(const std::vector<kv4sim_value_cap> &caps, uint8_t type) noexcept
{
    std::size_t largest = 0;
    for (const kv4sim_value_cap &cap : caps)
        if (cap.type == type)
            largest = std::max<std::size_t>(largest, cap.report_count + 1u);
    return largest;
}

monitor::monitor(identity identity_)
    : id(std::move(identity_)), output_bytes(report_bytes(id.caps, KV4SIM_OUTPUT)),
      input_bytes(report_bytes(id.caps, KV4SIM_INPUT)), input(id.caps), answer_(std::max(input.largest(), device::min_capacity))
{
}

void monitor::log(int kind, const uint8_t *bytes, std::size_t length) noexcept
{
    if (!wire_logging)
        return;
    try {
        wire.push_back({kind, std::vector<uint8_t>(bytes, bytes + length)});
    } catch (const std::bad_alloc &) {
        // The log is a diagnostic aid; running out of memory must not fail the transfer.
    }
}

time_point monitor::advance(time_point now) noexcept
{
    time_point next = time_point::max();
    if (!holder)
        return next;
    if (holder->node)
        fill_node(*holder->node, input, now);
    hid_transfer *t = holder->pending;
    while (t) {
        transfer_state &state = state_of(t);
        hid_transfer *following = state.next;
        if (state.read) {
            if (input.pop_arrived(now, state.buffer, state.length)) {
                holder->finish(t, hid_io::completed);
                the_bus().last_late_answer = clock::now();
            }
        } else if (state.due <= now)
            holder->finish(t, hid_io::completed);
        else
            next = std::min(next, state.due);
        t = following;
    }
    return std::min(next, input.next_arrival(now));
}

void monitor::unplug() noexcept
{
    attached = false;
    input.clear();
    if (!holder)
        return;
    holder->fail_all();
    if (holder->node)
        unplug_node(*holder->node);
    holder->owner = nullptr;
    holder = nullptr;
}

void monitor::fail_stalled_writes() noexcept
{
    for (hid_transfer *t = holder ? holder->pending : nullptr; t;) {
        hid_transfer *following = state_of(t).next;
        if (!state_of(t).read && state_of(t).due == time_point::max())
            holder->finish(t, hid_io::failed);
        t = following;
    }
}

std::size_t monitor::frame_length(uint8_t report_id, std::size_t length) const noexcept
{
    std::size_t size = 0;
    bool known = false;
    for (const kv4sim_value_cap &cap : id.caps)
        if (cap.type == KV4SIM_OUTPUT && cap.report_id == report_id) {
            size = std::max<std::size_t>(size, cap.report_count);
            known = true;
        }
    return known ? std::min(size, length - 1) : length - 1;
}

std::size_t monitor::respond(const uint8_t *frame, std::size_t length, bool scripted) noexcept
{
    kv4sim_responder fn;
    void *context;
    {
        std::lock_guard<std::mutex> guard(device_lock);
        std::size_t n = 0;
        if (!scripted && dev.answer(frame, length, answer_.data(), answer_.size(), &n))
            return n;
        fn = responder;
        context = responder_context;
    }
    if (fn && length)
        return std::min(fn(context, frame, length, answer_.data(), answer_.size()), answer_.size());
    const uint16_t code = static_cast<uint16_t>(KV4SIM_ERR_UNKNOWN_COMMAND);
    answer_[0] = 0;
    answer_[1] = static_cast<uint8_t>(code >> 8);
    answer_[2] = static_cast<uint8_t>(code);
    return 3;
}

} // namespace kv4::sim
