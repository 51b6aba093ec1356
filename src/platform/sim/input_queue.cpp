// Input report queue of a simulated monitor.
#include "platform/sim/input_queue.h"

#include <algorithm>
#include <cstring>

namespace kv4::sim {

input_queue::input_queue(const std::vector<kv4sim_value_cap> &caps)
{
    for (const kv4sim_value_cap &cap : caps)
        if (cap.type == KV4SIM_INPUT)
            kinds_.push_back({cap.report_id, cap.report_count});
    // Stable, so that of two reports of one size the first in the layout answers.
    std::stable_sort(kinds_.begin(), kinds_.end(),
                     [](const report_kind &a, const report_kind &b) { return a.size < b.size; });
    if (!kinds_.empty())
        slot_size_ = 1u + kinds_.back().size;
    storage_.assign(slots * slot_size_, 0);
}

bool input_queue::push(const uint8_t *answer, std::size_t size, time_point due, const uint8_t **report,
                       std::size_t *length) noexcept
{
    if (kinds_.empty())
        return false;
    const report_kind *kind = &kinds_.back();
    for (const report_kind &k : kinds_)
        if (k.size >= size) {
            kind = &k;
            break;
        }
    if (count_ == slots) { // full: the oldest report goes
        head_ = (head_ + 1) % slots;
        --count_;
    }
    uint8_t *bytes = slot(count_);
    const std::size_t n = std::min<std::size_t>(size, kind->size);
    bytes[0] = kind->id;
    if (n) // an empty frame may come without bytes
        std::memcpy(bytes + 1, answer, n);
    std::memset(bytes + 1 + n, 0, slot_size_ - 1 - n);
    due_[(head_ + count_) % slots] = due;
    ++count_;
    *report = bytes;
    *length = 1u + kind->size;
    return true;
}

bool input_queue::pop_arrived(time_point now, uint8_t *buffer, std::size_t length) noexcept
{
    if (count_ == 0 || due_[head_] > now)
        return false;
    std::memcpy(buffer, slot(0), std::min(length, slot_size_));
    head_ = (head_ + 1) % slots;
    --count_;
    return true;
}

void input_queue::drop_arrived(time_point now) noexcept
{
    while (count_ && due_[head_] <= now) {
        head_ = (head_ + 1) % slots;
        --count_;
    }
}

void input_queue::drop_unarrived(time_point now) noexcept
{
    while (count_ && due_[(head_ + count_ - 1) % slots] > now)
        --count_;
}

time_point input_queue::next_arrival(time_point now) const noexcept
{
    for (std::size_t i = 0; i < count_; ++i)
        if (due_[(head_ + i) % slots] > now)
            return due_[(head_ + i) % slots];
    return time_point::max();
}

} // namespace kv4::sim
