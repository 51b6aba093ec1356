// tkcmdsetUSB_find_devices on a bus of fresh simulated monitors.
#include "kv4usbcp.h"
#include "kv4usbcp_sim.h"

#include <benchmark/benchmark.h>

namespace {

void find_devices(benchmark::State &state)
{
    const auto monitors = static_cast<int>(state.range(0));
    uint16_t ports[255];
    uint8_t count = 0;
    for (auto _ : state) {
        state.PauseTiming();
        kv4sim_reset();
        tkcmdsetUSB_init();
        for (int i = 0; i < monitors; ++i)
            kv4sim_attach(nullptr);
        state.ResumeTiming();
        if (tkcmdsetUSB_find_devices("Quillon5", &count, ports) != 0 || count != monitors) {
            state.SkipWithError("discovery did not find every monitor");
            break;
        }
        state.PauseTiming();
        tkcmdsetUSB_shutdown_all();
        state.ResumeTiming();
    }
    kv4sim_reset();
}
BENCHMARK(find_devices)->Arg(1)->Arg(16)->Arg(64)->Unit(benchmark::kMicrosecond);

} // namespace
