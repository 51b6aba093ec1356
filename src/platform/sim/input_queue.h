// The input reports a monitor has sent and its handle has not read yet. Like the HID class
// driver's ring buffer it holds a few reports and drops the oldest when full; the core flushes it
// before every command, so only a stray answer is ever lost. Guarded by the bus lock.
#pragma once

#include "kv4usbcp_sim.h"
#include "platform/sim/handle.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kv4::sim {

class input_queue {
  public:
    // Sizes the queue for the input reports of a layout; all memory is taken here.
    explicit input_queue(const std::vector<kv4sim_value_cap> &caps);

    // The largest input report's payload (0 for a layout without input reports).
    std::size_t largest() const noexcept { return slot_size_ - 1; }

    // Queues an answer in the smallest input report that holds it (the largest, cut, when none
    // does), padded with zeros, arriving at `due`. The report's bytes (report ID first) go to
    // *report and *length. False when the layout has no input report.
    bool push(const uint8_t *answer, std::size_t size, time_point due, const uint8_t **report,
              std::size_t *length) noexcept;
    // Copies the oldest report that has arrived into buffer (at most length bytes) and removes it.
    bool pop_arrived(time_point now, uint8_t *buffer, std::size_t length) noexcept;
    // Removes the reports that have arrived, or those still on their way.
    void drop_arrived(time_point now) noexcept;
    void drop_unarrived(time_point now) noexcept;
    void clear() noexcept { count_ = 0; }
    // When the next report still on its way arrives; time_point::max() when none is.
    time_point next_arrival(time_point now) const noexcept;

  private:
    struct report_kind {
        uint8_t id;
        uint16_t size;
    };
    static constexpr std::size_t slots = 8;

    uint8_t *slot(std::size_t i) noexcept { return storage_.data() + (head_ + i) % slots * slot_size_; }

    std::vector<report_kind> kinds_; // the layout's input reports, smallest first
    std::vector<uint8_t> storage_;   // slots of slot_size_ bytes
    time_point due_[slots] = {};
    std::size_t slot_size_ = 1;
    std::size_t head_ = 0, count_ = 0;
};

} // namespace kv4::sim
