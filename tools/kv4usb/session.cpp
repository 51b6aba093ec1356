#include "session.h"

#include "failures.h"
#include "kv4usbcp.h"
#include "platform/hid_services.h"

#include <string>

namespace kv4 {
hid_services &sim_hid_services() noexcept;
} // namespace kv4

namespace kv4usb {

namespace {
// Every KV4 monitor's USB product string carries this name.
constexpr const char *monitor_filter = "Quillon5";
} // namespace

session::session(console &io, std::optional<unsigned> simulated, bool open_monitors)
{
    try {
        start(io, simulated, open_monitors);
    } catch (...) {
        end();
        throw;
    }
}

session::~session() { end(); }

void session::start(console &io, std::optional<unsigned> simulated, bool open_monitors)
{
    if (simulated) {
        use_simulator(*simulated, open_monitors);
        return;
    }
    check(tkcmdsetUSB_init(), "starting the library");
    if (!open_monitors)
        return;
    discover();
    if (!ports_.empty())
        return;
    io.err << "kv4usb: no monitor found; using a simulated monitor instead\n";
    tkcmdsetUSB_shutdown_all();
    use_simulator(1, true);
}

// The backend is switched while the library is stopped, so no port is open on the old one.
void session::use_simulator(unsigned count, bool open_monitors)
{
    kv4::set_hid_services(&kv4::sim_hid_services());
    simulator_selected_ = true;
    check(tkcmdsetUSB_init(), "starting the library");
    for (unsigned i = 0; i < count; ++i) {
        kv4sim_monitor *monitor = kv4sim_attach(nullptr);
        if (!monitor)
            throw tool_failure("plugging in simulated monitor " + std::to_string(i + 1) + " failed");
        monitors_.push_back(monitor);
    }
    if (open_monitors)
        discover();
}

void session::discover()
{
    uint16_t ports[255] = {};
    uint8_t count = 0;
    check(tkcmdsetUSB_find_devices(monitor_filter, &count, ports), "looking for monitors");
    ports_.assign(ports, ports + count);
}

void session::end() noexcept
{
    tkcmdsetUSB_shutdown_all();
    for (kv4sim_monitor *monitor : monitors_)
        kv4sim_destroy(monitor);
    monitors_.clear();
    if (simulator_selected_)
        kv4::set_hid_services(nullptr);
    simulator_selected_ = false;
}

} // namespace kv4usb
