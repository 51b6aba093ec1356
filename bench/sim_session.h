// A started library with simulated monitors on a clean bus, for the length of a benchmark.
#pragma once

#include "kv4usbcp.h"
#include "kv4usbcp_sim.h"

#include <benchmark/benchmark.h>

namespace kv4bench {

class sim_session {
public:
    // Attaches `monitors` zero-latency monitors without wire logs; `open` of them are found and
    // opened by the library (ports 0 onward), the rest stay free for bare exchanges.
    sim_session(int monitors, int open)
    {
        kv4sim_reset();
        tkcmdsetUSB_init();
        for (int i = 0; i < monitors; ++i) {
            monitors_[i] = kv4sim_attach(nullptr);
            kv4sim_set_wire_log(monitors_[i], 0);
            if (i < open) {
                uint16_t ports[255];
                uint8_t count = 0;
                tkcmdsetUSB_find_devices("Quillon5", &count, ports);
            }
        }
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
    kv4sim_monitor *monitors_[4] = {};
};

} // namespace kv4bench
