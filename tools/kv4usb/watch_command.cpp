#include "watch_command.h"

#include "failures.h"
#include "format.h"
#include "library.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <deque>
#include <iostream>
#include <limits>
#include <mutex>
#include <thread>

namespace kv4usb {

namespace {

using watch_clock = std::chrono::steady_clock;

constexpr uint32_t max_seconds = 7 * 24 * 3600;
// The simulated bus reports within moments; this only bounds a report that never comes.
constexpr auto event_bound = std::chrono::seconds(5);
// How often the wait looks at Ctrl-C, whose handler can only set a flag.
constexpr auto interrupt_check = std::chrono::milliseconds(100);

// What the callback hears, kept for the main thread: the callback runs on the library's
// notification thread, and only the main thread writes to the console. The callback carries no
// context of the caller's, so this is where it finds the watch.
struct event_log {
    std::mutex guard;
    std::condition_variable heard;
    std::deque<std::string> lines;
    uint64_t events = 0;
    bool input_ended = false;
};
event_log watched;

volatile std::sig_atomic_t interrupted = 0;

void on_interrupt(int) { interrupted = 1; }

std::string describe(uint16_t port, int32_t event, const char *text, const char *serial, uint16_t product_id)
{
    const std::string name = text ? text : "";
    switch (event) {
    case TKUSB_EVENT_DEVICE_CONNECTED:
    case TKUSB_EVENT_DEVICE_DISCONNECTED:
        return "port " + std::to_string(port) +
               (event == TKUSB_EVENT_DEVICE_CONNECTED ? ": connected  " : ": disconnected  ") + name + "  serial " +
               (serial ? serial : "") + "  product " + hex(product_id, 4);
    case TKUSB_EVENT_VOLUME_ARRIVED: return "volume " + drive_name(port) + " arrived  label \"" + name + '"';
    case TKUSB_EVENT_VOLUME_REMOVED: return "volume " + drive_name(port) + " removed";
    default: return "event " + std::to_string(event) + " on port " + std::to_string(port);
    }
}

void on_event(uint16_t port, int32_t event, const char *text, const char *serial, uint16_t product_id)
{
    std::string line = describe(port, event, text, serial, product_id);
    std::lock_guard<std::mutex> lock(watched.guard);
    watched.lines.push_back(std::move(line));
    ++watched.events;
    watched.heard.notify_all();
}

// Prints the lines heard until done() holds (asked under the guard) or the limit passes;
// returns done(). The lines are written outside the guard, so that a slow console never holds up
// the notification thread.
template <class Done> bool print_until(console &io, watch_clock::time_point limit, Done done)
{
    std::unique_lock<std::mutex> lock(watched.guard);
    for (;;) {
        std::deque<std::string> lines;
        lines.swap(watched.lines);
        lock.unlock();
        for (const std::string &line : lines)
            io.out << line << '\n';
        io.out.flush(); // a watch read through a pipe shows each event as it comes
        lock.lock();
        if (!watched.lines.empty())
            continue;
        if (done() || watch_clock::now() >= limit)
            return done();
        watched.heard.wait_until(lock, limit);
    }
}

// The monitors and volumes of the system, until the time is up, input ends or Ctrl-C.
void watch_system(console &io, uint32_t seconds)
{
    io.err << "kv4usb: watching monitors and volumes "
           << (seconds ? "for " + std::to_string(seconds) + " s" : std::string("until end of input or Ctrl-C")) << '\n';
    if (!seconds)
        std::thread([] {
            // Detached: a read cannot be called off, and it ends with the process at the latest.
            std::cin.ignore(std::numeric_limits<std::streamsize>::max());
            std::lock_guard<std::mutex> lock(watched.guard);
            watched.input_ended = true;
            watched.heard.notify_all();
        }).detach();
    interrupted = 0;
    const auto previous = std::signal(SIGINT, on_interrupt);
    const auto end = seconds ? watch_clock::now() + std::chrono::seconds(seconds) : watch_clock::time_point::max();
    bool told = false;
    while (!told && watch_clock::now() < end)
        told = print_until(io, std::min(end, watch_clock::now() + interrupt_check),
                           [] { return watched.input_ended || interrupted; });
    if (previous != SIG_ERR)
        std::signal(SIGINT, previous);
}

// Plugs a monitor in, out and in again on a new socket, and announces a volume arriving and
// leaving, waiting for each report: the monitors the session plugged in are reported first,
// unless an earlier command of the run opened them already. The monitor stays the session's, so
// that later commands of the run find it and its removal is never reported half-way.
void watch_script(console &io, session &s)
{
    uint64_t expected = s.ports().empty() ? s.simulated_monitors().size() : 0;
    auto expect = [&](const std::string &what) {
        if (!print_until(io, watch_clock::now() + event_bound, [&] { return watched.events >= expected; }))
            throw tool_failure("the simulated bus reported no " + what + " within 5 s");
        ++expected;
    };
    expect("monitor present at the start");
    kv4sim_monitor *added = s.attach_simulated();
    expect("arrival");
    sim().detach(added);
    expect("removal");
    sim().reattach(added, 1);
    expect("return on a new socket");
    const uint32_t drive_e = 1u << 4;
    sim().announce_volume(drive_e, 1, 0, "DATA");
    expect("volume arrival");
    sim().announce_volume(drive_e, 0, 0, nullptr);
    expect("volume removal");
}

} // namespace

std::string drive_name(uint16_t unitmask)
{
    if (unitmask == 0)
        return "a drive past P:";
    unsigned index = 0;
    while (!(unitmask >> index & 1))
        ++index;
    return std::string(1, static_cast<char>('A' + index)) + ':';
}

int run_watch(context &ctx, const arguments &args)
{
    const uint32_t seconds = args.option_number("--seconds", 0, max_seconds);
    const bool simulated = ctx.simulated();
    session &s = ctx.connect(monitors::left_to_events);
    {
        std::lock_guard<std::mutex> lock(watched.guard);
        watched.lines.clear();
        watched.events = 0;
        watched.input_ended = false;
    }
    check(usb().register_events3(on_event), "registering the event callback");
    try {
        if (simulated)
            watch_script(ctx.io, s);
        else
            watch_system(ctx.io, seconds);
    } catch (...) {
        usb().unregister_events3();
        throw;
    }
    check(usb().unregister_events3(), "unregistering the event callback");
    print_until(ctx.io, watch_clock::now(), [] { return true; }); // what came before the unregistration
    return 0;
}

} // namespace kv4usb
