#include "poll_command.h"

#include "failures.h"
#include "format.h"
#include "library.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace kv4usb {

namespace {

using poll_clock = std::chrono::steady_clock;

const uint8_t status_frame[1] = {12};
constexpr uint16_t exchange_timeout_ms = 1000;
// Every exchange ends within its time-out, so a longer silence means a completion went missing.
constexpr auto stall_limit = std::chrono::milliseconds(3 * exchange_timeout_ms);
constexpr uint32_t default_count = 1000;
constexpr uint32_t max_count = 100000;

struct port_run {
    uint16_t port = 0;
    uint32_t started = 0; // exchanges begun, refused sends included
    poll_clock::time_point sent_at;
    std::vector<float> round_trips_us; // of the exchanges answered
};

// The value at fraction p of the sorted values (nearest rank).
float percentile(const std::vector<float> &sorted, double p)
{
    const auto rank = static_cast<std::size_t>(std::ceil(p * static_cast<double>(sorted.size())));
    return sorted[std::max<std::size_t>(rank, 1) - 1];
}

// One poll: each port's exchanges in a chain, the next started by the completion of the last on
// the library's I/O thread. A port's record is used by one thread at a time: the main thread
// until its first exchange is queued, then the completions, which the library's queue orders.
// guard_ holds the failures and the count of ports done, through which the main thread sees the end.
class poll_run {
  public:
    poll_run(const std::vector<uint16_t> &ports, uint32_t count) : count_(count), ports_(ports.size())
    {
        for (std::size_t i = 0; i < ports.size(); ++i) {
            ports_[i].port = ports[i];
            ports_[i].round_trips_us.reserve(count); // no allocation between answer and next send
        }
    }

    void start()
    {
        begun_ = poll_clock::now();
        for (std::size_t i = 0; i < ports_.size(); ++i)
            send(i);
    }

    void completed(uint16_t port, std::size_t index, const uint8_t *data, uint16_t length, int16_t result)
    {
        const poll_clock::time_point now = poll_clock::now();
        if (index >= ports_.size() || ports_[index].port != port)
            return; // not an exchange of this poll
        ended_.fetch_add(1);
        port_run &p = ports_[index];
        if (result == 0 && length >= 3 && data[0] == 0) // the monitor refused: its code follows
            result = static_cast<int16_t>(data[1] << 8 | data[2]);
        else if (result == 0)
            p.round_trips_us.push_back(std::chrono::duration<float, std::micro>(now - p.sent_at).count());
        if (result != 0)
            failed(result);
        send(index);
    }

    // Until every port has run its count; false when no exchange ended for stall_limit.
    bool wait()
    {
        std::unique_lock<std::mutex> lock(guard_);
        uint64_t seen = 0;
        while (!done_.wait_for(lock, stall_limit, [&] { return finished_ == ports_.size(); })) {
            if (ended_.load() == seen) {
                ended_at_ = poll_clock::now();
                return false;
            }
            seen = ended_.load();
        }
        return true;
    }

    // No exchange starts after this; those under way still end.
    void stop() { stopping_.store(true); }

    uint64_t failures() const
    {
        uint64_t total = 0;
        for (const auto &failure : failures_)
            total += failure.second;
        return total;
    }

    void report(console &io) const
    {
        std::vector<float> trips;
        uint64_t started = 0;
        for (const port_run &p : ports_) {
            trips.insert(trips.end(), p.round_trips_us.begin(), p.round_trips_us.end());
            started += p.started;
        }
        const uint64_t ended = trips.size() + failures();
        const double seconds = std::chrono::duration<double>(ended_at_ - begun_).count();
        io.out << started << " exchanges on " << ports_.size() << (ports_.size() == 1 ? " port" : " ports") << " in "
               << decimal(seconds * 1000, 3) << " ms: " << trips.size() << " answered, " << failures() << " failed\n";
        if (seconds > 0)
            io.out << decimal(static_cast<double>(ended) / seconds, 0) << " exchanges per second\n";
        if (!trips.empty()) {
            std::sort(trips.begin(), trips.end());
            io.out << "round trip, send to completion: median " << decimal(percentile(trips, 0.5), 1)
                   << " us, 99th percentile " << decimal(percentile(trips, 0.99), 1) << " us\n";
        }
        const char *separator = "failures: ";
        for (const auto &failure : failures_) {
            io.out << separator << failure.second << ' ' << error_name(failure.first);
            separator = ", ";
        }
        if (!failures_.empty())
            io.out << '\n';
    }

  private:
    // Starts the port's next exchange, if it has one left. A refused send is a failed exchange
    // with no completion to follow, so the next one is tried at once.
    void send(std::size_t index)
    {
        port_run &p = ports_[index];
        while (p.started < count_ && !stopping_.load()) {
            ++p.started;
            p.sent_at = poll_clock::now();
            const int16_t code =
                usb().send_command(p.port, status_frame, sizeof status_frame, 0, static_cast<uint16_t>(index));
            if (code == 0)
                return;
            failed(code);
        }
        std::lock_guard<std::mutex> lock(guard_);
        if (++finished_ == ports_.size() && !stopping_.load()) {
            ended_at_ = poll_clock::now();
            done_.notify_all();
        }
    }

    void failed(int16_t code)
    {
        std::lock_guard<std::mutex> lock(guard_);
        ++failures_[code];
    }

    const uint32_t count_;
    std::vector<port_run> ports_;
    poll_clock::time_point begun_, ended_at_;
    std::atomic<uint64_t> ended_{0};
    std::atomic<bool> stopping_{false};
    std::mutex guard_;
    std::condition_variable done_;
    std::size_t finished_ = 0;
    std::map<int16_t, uint64_t> failures_;
};

// The completion callback carries no context of the caller's: the poll under way is found here.
std::atomic<poll_run *> current_poll{nullptr};

void on_completion(uint16_t port, const uint8_t *data, uint16_t length, int16_t result, int16_t tag)
{
    if (poll_run *run = current_poll.load())
        run->completed(port, static_cast<uint16_t>(tag), data, length, result);
}

std::vector<uint16_t> poll_ports(const arguments &args)
{
    std::vector<uint16_t> ports;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const uint16_t port = args.port(i);
        if (std::find(ports.begin(), ports.end(), port) != ports.end())
            args.fail("PORT " + std::to_string(port) + " is given twice");
        ports.push_back(port);
    }
    return ports;
}

} // namespace

int run_poll(context &ctx, const arguments &args)
{
    const std::vector<uint16_t> ports = poll_ports(args);
    const uint32_t count = args.option_number("--count", default_count, max_count);
    ctx.connect();
    // A port that does not exist would fail every send at once, and be timed as fast as can be.
    for (const uint16_t port : ports) {
        uint16_t largest = 0;
        check(usb().max_report_size(port, &largest), "poll of port " + std::to_string(port));
    }
    poll_run run(ports, count);
    current_poll.store(&run);
    if (const int16_t code = usb().register_asyncio(on_completion, exchange_timeout_ms)) {
        current_poll.store(nullptr);
        throw call_failure("registering the completion callback", code);
    }
    run.start();
    const bool finished = run.wait();
    run.stop();
    // Ends what a stall left under way, each with a completion of its own that counts as failed.
    const int16_t unregistered = usb().unregister_asyncio();
    current_poll.store(nullptr);
    check(unregistered, "unregistering the completion callback");
    run.report(ctx.io);
    if (!finished)
        ctx.io.err << "kv4usb: no exchange ended for " << stall_limit.count() / 1000
                   << " s; the exchanges still under way were abandoned\n";
    return finished && run.failures() == 0 ? 0 : 1;
}

} // namespace kv4usb
