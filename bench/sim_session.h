// A started library with simulated monitors on a clean bus, for the length of a benchmark.
#pragma once

#include "kv4usbcp.h"
#include "kv4usbcp_sim.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace kv4bench {

class sim_session {
public:
    // Attaches `monitors` zero-latency monitors without wire logs; `open` of them are found and
    // opened by the library (ports 0 onward), the rest stay free for bare exchanges.
    sim_session(int monitors, int open)
    {
        kv4sim_reset();
        tkcmdsetUSB_init();
        // One discovery, after the monitors to open: it numbers the ports in the bus's order. A
        // second one would probe each open monitor again, which the library's own handle refuses
        // (a 100 ms retry each).
        attach(open);
        uint16_t ports[255];
        uint8_t count = 0;
        tkcmdsetUSB_find_devices("Quillon5", &count, ports);
        attach(monitors - open);
    }
    ~sim_session()
    {
        tkcmdsetUSB_shutdown_all();
        kv4sim_reset();
    }
    sim_session(const sim_session &) = delete;
    sim_session &operator=(const sim_session &) = delete;

    kv4sim_monitor *monitor(int i) const { return monitors_[i]; }

private:
    void attach(int count)
    {
        for (int i = 0; i < count; ++i) {
            monitors_.push_back(kv4sim_attach(nullptr));
            kv4sim_set_wire_log(monitors_.back(), 0);
        }
    }

    std::vector<kv4sim_monitor *> monitors_;
};

} // namespace kv4bench
