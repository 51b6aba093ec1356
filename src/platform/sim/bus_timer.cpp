// Completions that are due later (write and answer latencies) come from one timer thread, started
// when first needed. It only ever takes the bus lock and signals the core's events, so it cannot
// deadlock with a caller; kv4sim_reset ends it.
#include "platform/sim/bus.h"

namespace kv4::sim {

namespace {
// How long a cancelled transfer takes to end.
constexpr auto cancel_latency = std::chrono::microseconds(500);
} // namespace

void bus::cancel(handle &h, hid_transfer *transfer) noexcept
{
    if (!h.remove(transfer))
        return;
    transfer_state &state = state_of(transfer);
    // The frame of a cancelled write counts as lost on the way: no answer to it arrives.
    if (!state.read && h.owner)
        h.owner->input.drop_unarrived(clock::now());
    state.due = clock::now() + cancel_latency;
    state.stuck_on = h.owner && h.owner->fault(KV4SIM_FAULT_CANCEL_STUCK) ? h.owner : nullptr;
    state.next = cancelled_;
    cancelled_ = transfer;
    wake_timer();
}

void bus::release_stuck(const monitor &m) noexcept
{
    for (hid_transfer *t = cancelled_; t; t = state_of(t).next)
        if (state_of(t).stuck_on == &m)
            state_of(t).stuck_on = nullptr;
    wake_timer();
}

time_point bus::finish_cancelled(time_point now, bool force) noexcept
{
    time_point next = time_point::max();
    for (hid_transfer **link = &cancelled_; *link;) {
        hid_transfer *transfer = *link;
        transfer_state &state = state_of(transfer);
        if (force || (state.due <= now && !state.stuck_on)) {
            *link = state.next;
            state.next = nullptr;
            state.outcome = hid_io::failed;
            state.owned = false;
            event_set(transfer->event);
        } else {
            if (!state.stuck_on)
                next = std::min(next, state.due);
            link = &state.next;
        }
    }
    return next;
}

void bus::wake_timer() noexcept
{
    if (!timer_.joinable()) {
        try {
            timer_ = std::thread(&bus::run_timer, this, timer_generation_);
        } catch (...) { // std::system_error, or std::bad_alloc for the thread's state
            // Without a thread the late completions never come; the host then times out, as with
            // a monitor that does not answer.
            return;
        }
    }
    timer_changed_.notify_one();
}

void bus::stop_timer(std::unique_lock<std::mutex> &lock) noexcept
{
    ++timer_generation_;
    std::thread timer = std::move(timer_);
    timer_changed_.notify_all();
    lock.unlock();
    if (timer.joinable())
        timer.join();
    lock.lock();
}

void bus::run_timer(unsigned generation) noexcept
{
    std::unique_lock<std::mutex> lock(mutex);
    while (generation == timer_generation_) {
        const time_point now = clock::now();
        time_point next = finish_cancelled(now);
        for (const auto &m : monitors)
            next = std::min(next, m->advance(now));
        if (next == time_point::max())
            timer_changed_.wait(lock);
        else
            timer_changed_.wait_until(lock, next);
    }
}

} // namespace kv4::sim
