// The simulated bus: the monitors made since the last reset, plugged in or not, under one lock.
#pragma once

#include "platform/sim/monitor.h"
#include "platform/sim/sim_bus.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kv4::sim {

class bus {
  public:
    // Guards everything here and every monitor's bus state. Never held while calling out of the
    // simulator (broadcasts, responder), and taken after a monitor's exchange lock.
    std::mutex mutex;

    // ---- Monitors (lock held) ------------------------------------------------------------------
    std::shared_ptr<monitor> find(const void *m) const noexcept;
    // The plugged-in monitor with that path, letter case ignored as Windows does; null if none.
    monitor *find_attached(const char *path) const noexcept;
    std::vector<std::shared_ptr<monitor>> monitors; // in attach order
    unsigned attach_count = 0;

    // Plugs a monitor in last in attach order, on a new socket or the one it had.
    void plug(monitor &m, bool new_socket);
    void unplug(monitor &m) noexcept;
    void erase(monitor &m) noexcept;
    // Unplugs and forgets every monitor and volume; numbering starts afresh.
    void clear() noexcept;

    // ---- Plug events -------------------------------------------------------------------------
    // Queues a volume change (lock held).
    void announce_volume(uint32_t unitmask, bool arrived, uint16_t flags, const char *label);
    // Broadcasts the queued changes to the notification window in order (lock not held), as the
    // system does for a plugged device interface and for a volume.
    void deliver() noexcept;
    std::string labels[26];
    uint32_t volumes_present = 0;

    // ---- Cancellation (lock held) ------------------------------------------------------------
    // Takes a pending transfer off its handle; it ends as failed a little later, from the timer,
    // as a cancelled transfer does on Windows.
    void cancel(handle &h, hid_transfer *transfer) noexcept;
    // Ends the cancelled transfers that are due, and all of them when forced; when the next one
    // is due.
    time_point finish_cancelled(time_point now, bool force = false) noexcept;
    // Lets the cancelled transfers that the monitor's driver held end.
    void release_stuck(const monitor &m) noexcept;
    // Starting a transfer on a record whose transfer is still pending: an error of the host's
    // that Windows does not report. Counted, and the start is refused.
    unsigned record_reuses = 0;
    time_point last_late_answer{};
    // KV4SIM_RULE_READ_BY_WAITER: handles opened from now on end reads only for a waiter.
    bool reads_by_waiter = false;
    // KV4SIM_RULE_REFUSE_PLUG_EVENTS: asking to watch plug events fails.
    bool plug_events_refused = false;

    // ---- Timed completions -------------------------------------------------------------------
    // Something became due later: runs the timer thread, started on first need (lock held).
    void wake_timer() noexcept;
    // Ends the timer thread; releases the lock to wait for it.
    void stop_timer(std::unique_lock<std::mutex> &lock) noexcept;

  private:
    struct change {
        bool device;
        std::string path;
        bool arrived;
        uint32_t unitmask;
        uint16_t flags;
    };
    void run_timer(unsigned generation) noexcept;

    hid_transfer *cancelled_ = nullptr; // through transfer_state::next
    std::deque<change> changes_;
    // Keeps the broadcasts in order. Recursive: a broadcast sent on the notification thread is
    // handled inside the call, and a host's callback may plug monitors again.
    std::recursive_mutex delivery_;
    unsigned next_socket_ = 1;
    std::thread timer_;
    unsigned timer_generation_ = 0; // a timer thread runs while the generation it began with lasts
    std::condition_variable timer_changed_;
};

// The one bus of the process. It is never destroyed, so the timer thread can never outlive it.
bus &the_bus() noexcept;

} // namespace kv4::sim
