// Asynchronous exchanges on simulated monitors: how many a second when each monitor keeps one
// status exchange under way, the next sent from the completion callback; how soon the callback
// follows a monitor's answer; and how late a time-out is reported.
#include "sim_session.h"

#include "platform/sim/sim_bus.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace {

using bench_clock = std::chrono::steady_clock;

const uint8_t status_frame[1] = {12};

// The value at fraction p of values (nearest rank); 0 for none.
double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(std::ceil(p * static_cast<double>(values.size())));
    return values[std::max<std::size_t>(rank, 1) - 1];
}

// What the completion callback reaches: the library's callback carries no context of its own.
class completion_sink {
public:
    virtual ~completion_sink() = default;
    virtual void completed(uint16_t port, int16_t result) = 0;
};

std::atomic<completion_sink *> current_sink{nullptr};

void on_completion(uint16_t port, const uint8_t *, uint16_t, int16_t result, int16_t)
{
    if (completion_sink *sink = current_sink.load())
        sink->completed(port, result);
}

// The callback registered, delivering to sink, for the length of a benchmark.
class registration {
public:
    registration(completion_sink &sink, uint16_t timeout_ms)
    {
        current_sink.store(&sink);
        registered_ = tkcmdsetUSB_register_asyncio(on_completion, timeout_ms) == 0;
    }
    ~registration()
    {
        if (registered_)
            tkcmdsetUSB_unregister_asyncio();
        current_sink.store(nullptr);
    }
    registration(const registration &) = delete;
    registration &operator=(const registration &) = delete;

    bool registered() const { return registered_; }

private:
    bool registered_ = false;
};

// Rounds of per_port exchanges on each of ports 0 to ports - 1, every exchange but a port's first
// sent from the completion of the one before.
class chains : public completion_sink {
public:
    chains(int ports, uint32_t per_port) : per_port_(per_port), left_(static_cast<std::size_t>(ports)) {}

    // False when an exchange failed or was refused.
    bool run_round()
    {
        failed_.store(false);
        running_.store(left_.size());
        std::fill(left_.begin(), left_.end(), per_port_);
        for (std::size_t port = 0; port < left_.size(); ++port)
            if (!send(port))
                finish();
        std::unique_lock<std::mutex> lock(guard_);
        done_.wait(lock, [&] { return running_.load() == 0; });
        return !failed_.load();
    }

    void completed(uint16_t port, int16_t result) override
    {
        if (result != 0 || port >= left_.size())
            failed_.store(true);
        else if (--left_[port] > 0 && send(port))
            return;
        finish();
    }

private:
    bool send(std::size_t port)
    {
        if (tkcmdsetUSB_send_command(static_cast<uint16_t>(port), status_frame, sizeof status_frame, 0, 0) == 0)
            return true;
        failed_.store(true);
        return false;
    }

    void finish()
    {
        if (running_.fetch_sub(1) != 1)
            return;
        std::lock_guard<std::mutex> lock(guard_); // so that the waiter cannot miss the notification
        done_.notify_one();
    }

    const uint32_t per_port_;
    std::vector<uint32_t> left_;
    std::atomic<std::size_t> running_{0};
    std::atomic<bool> failed_{false};
    std::mutex guard_;
    std::condition_variable done_;
};

// One exchange at a time on port 0, with the time its callback was entered and its result.
class one_exchange : public completion_sink {
public:
    // Sends and waits for the completion; false when the send is refused.
    bool run(bench_clock::time_point *sent)
    {
        {
            std::lock_guard<std::mutex> lock(guard_);
            arrived_ = false;
        }
        *sent = bench_clock::now();
        if (tkcmdsetUSB_send_command(0, status_frame, sizeof status_frame, 0, 0) != 0)
            return false;
        std::unique_lock<std::mutex> lock(guard_);
        done_.wait(lock, [&] { return arrived_; });
        return true;
    }

    void completed(uint16_t, int16_t result) override
    {
        const bench_clock::time_point now = bench_clock::now();
        std::lock_guard<std::mutex> lock(guard_);
        entered_ = now;
        result_ = result;
        arrived_ = true;
        done_.notify_one();
    }

    bench_clock::time_point entered() const { return entered_; }
    int16_t result() const { return result_; }

private:
    std::mutex guard_;
    std::condition_variable done_;
    bool arrived_ = false;
    bench_clock::time_point entered_;
    int16_t result_ = 0;
};

constexpr uint32_t round_per_port = 100;

void async_exchanges(benchmark::State &state)
{
    const auto monitors = static_cast<int>(state.range(0));
    kv4bench::sim_session session(monitors, monitors);
    chains rounds(monitors, round_per_port);
    registration registered(rounds, 1000);
    if (!registered.registered()) {
        state.SkipWithError("registration refused");
        return;
    }
    for (auto _ : state) {
        if (!rounds.run_round()) {
            state.SkipWithError("an exchange failed");
            break;
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * monitors * round_per_port);
}
BENCHMARK(async_exchanges)->Arg(1)->Arg(4)->Arg(16)->Arg(100)->UseRealTime()->Unit(benchmark::kMicrosecond);

// The answer arrives answer_latency_us after the write, while the read waits for it; the simulated
// bus notes the moment the read ends with it, and the delay is measured from there to the
// callback's entry (or the transaction's return).
constexpr unsigned answer_latency_us = 2000;

double since_answer_us(bench_clock::time_point then)
{
    return std::chrono::duration<double, std::micro>(then - kv4::sim::last_late_answer()).count();
}

void answer_to_callback(benchmark::State &state)
{
    kv4bench::sim_session session(1, 1);
    kv4sim_set_latency_us(session.monitor(0), 0, answer_latency_us);
    one_exchange exchange;
    registration registered(exchange, 1000);
    if (!registered.registered()) {
        state.SkipWithError("registration refused");
        return;
    }
    std::vector<double> late_us;
    late_us.reserve(static_cast<std::size_t>(state.max_iterations));
    for (auto _ : state) {
        bench_clock::time_point sent;
        if (!exchange.run(&sent) || exchange.result() != 0) {
            state.SkipWithError("the exchange failed");
            break;
        }
        late_us.push_back(since_answer_us(exchange.entered()));
    }
    state.counters["late_p50_us"] = percentile(late_us, 0.5);
    state.counters["late_p99_us"] = percentile(late_us, 0.99);
}
BENCHMARK(answer_to_callback)->Iterations(1000)->UseRealTime()->Unit(benchmark::kMicrosecond);

// The same answer through tkcmdsetUSB_do_command: from the answer to the return, the host's
// wake-up without the I/O thread.
void answer_to_return_sync(benchmark::State &state)
{
    kv4bench::sim_session session(1, 1);
    kv4sim_set_latency_us(session.monitor(0), 0, answer_latency_us);
    uint8_t response[512];
    std::vector<double> late_us;
    late_us.reserve(static_cast<std::size_t>(state.max_iterations));
    for (auto _ : state) {
        uint16_t length = 19;
        if (tkcmdsetUSB_do_command(0, status_frame, sizeof status_frame, response, &length, 1000) != 0) {
            state.SkipWithError("transaction failed");
            break;
        }
        late_us.push_back(since_answer_us(bench_clock::now()));
    }
    state.counters["late_p50_us"] = percentile(late_us, 0.5);
    state.counters["late_p99_us"] = percentile(late_us, 0.99);
}
BENCHMARK(answer_to_return_sync)->Iterations(1000)->UseRealTime()->Unit(benchmark::kMicrosecond);

// A monitor that never answers: callback entry - (send + time-out).
constexpr uint16_t short_timeout_ms = 50;

void timeout_report(benchmark::State &state)
{
    kv4bench::sim_session session(1, 1);
    kv4sim_set_fault(session.monitor(0), KV4SIM_FAULT_NO_ANSWER, 1);
    one_exchange exchange;
    registration registered(exchange, short_timeout_ms);
    if (!registered.registered()) {
        state.SkipWithError("registration refused");
        return;
    }
    std::vector<double> late_ms;
    late_ms.reserve(static_cast<std::size_t>(state.max_iterations));
    for (auto _ : state) {
        bench_clock::time_point sent;
        if (!exchange.run(&sent) || exchange.result() != TKUSB_READ_TIMEOUT_ERR) {
            state.SkipWithError("the exchange did not time out");
            break;
        }
        late_ms.push_back(std::chrono::duration<double, std::milli>(exchange.entered() - sent).count() -
                          short_timeout_ms);
    }
    state.counters["late_p50_ms"] = percentile(late_ms, 0.5);
    state.counters["late_max_ms"] = percentile(late_ms, 1.0);
}
BENCHMARK(timeout_report)->Iterations(40)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace
