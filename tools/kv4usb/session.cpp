#include "session.h"

#include "failures.h"

#include <string>

namespace kv4usb {

namespace {
// Every KV4 monitor's USB product string carries this name.
constexpr const char *monitor_filter = "Quillon5";
} // namespace

session::session(console &io, library_loader load, std::optional<unsigned> simulated, monitors need) : load_(load)
{
    try {
        if (simulated)
            use_simulator(*simulated);
        else
            start(library_kind::production);
        require(io, need);
    } catch (...) {
        end();
        throw;
    }
}

session::~session() { end(); }

void session::start(library_kind kind)
{
    use_library(load_(kind));
    started_ = true;
    check(usb().init(), "starting the library");
}

void session::use_simulator(unsigned count)
{
    start(library_kind::simulator);
    for (unsigned i = 0; i < count; ++i)
        attach_simulated();
}

kv4sim_monitor *session::attach_simulated()
{
    kv4sim_monitor *monitor = sim().attach(nullptr);
    if (!monitor)
        throw tool_failure("plugging in simulated monitor " + std::to_string(monitors_.size() + 1) + " failed");
    monitors_.push_back(monitor);
    return monitor;
}

void session::require(console &io, monitors need)
{
    if (need != monitors::left_to_events && !discovered_)
        discover(io, need);
}

void session::discover(console &io, monitors need)
{
    uint16_t ports[255] = {};
    uint8_t count = 0;
    check(usb().find_devices(monitor_filter, &count, ports), "looking for monitors");
    ports_.assign(ports, ports + count);
    discovered_ = true;
    if (!ports_.empty() || !monitors_.empty())
        return;
    // A command that reported success on a monitor nobody can see would mislead a script.
    if (need != monitors::or_simulated)
        throw tool_failure("no monitor attached (add --simulate to try it on a simulated monitor)");
    io.err << "kv4usb: no monitor attached; using a simulated monitor instead\n";
    usb().shutdown_all();
    use_simulator(1);
    discover(io, need);
}

void session::end() noexcept
{
    if (!started_)
        return;
    usb().shutdown_all();
    for (kv4sim_monitor *monitor : monitors_)
        sim().destroy(monitor);
    monitors_.clear();
}

} // namespace kv4usb
