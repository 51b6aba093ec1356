// Completions that are due later (write and answer latencies) come from one timer thread, started
// when first needed. It only ever takes the bus lock and signals the core's events, so it cannot
// deadlock with a caller; kv4sim_reset ends it.
#include "platform/sim/bus.h"

#include <system_error>

namespace kv4::sim {

void bus::wake_timer() noexcept
{
    if (!timer_.joinable()) {
        try {
            timer_ = std::thread(&bus::run_timer, this, timer_generation_);
        } catch (const std::system_error &) {
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
        time_point next = time_point::max();
        for (const auto &m : monitors)
            next = std::min(next, m->advance(now));
        if (next == time_point::max())
            timer_changed_.wait(lock);
        else
            timer_changed_.wait_until(lock, next);
    }
}

} // namespace kv4::sim
