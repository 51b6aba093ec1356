// One transaction through tkcmdsetUSB_do_command beside the same write and read through the
// HID services seam alone, on a zero-latency simulated monitor; and heap allocations per
// transaction.
#include "allocation_counter.h"
#include "bare_exchange.h"
#include "sim_session.h"

namespace {

// The status command, answered in the 20-byte input report (19 bytes to the host); in response
// buffer mode the output report is the 20-byte one too (report ID 1 of the default layout).
const uint8_t status_frame[1] = {12};
constexpr uint16_t status_response = 19;

void report_allocations(benchmark::State &state, uint64_t before)
{
    state.counters["allocs_per_transaction"] =
        static_cast<double>(kv4bench::allocations() - before) / static_cast<double>(state.iterations());
}

void library_transaction(benchmark::State &state)
{
    kv4bench::sim_session session(1, 1);
    uint8_t response[512];
    const uint64_t before = kv4bench::allocations();
    for (auto _ : state) {
        uint16_t length = status_response;
        if (tkcmdsetUSB_do_command(0, status_frame, 1, response, &length, 1000) != 0) {
            state.SkipWithError("transaction failed");
            break;
        }
        benchmark::DoNotOptimize(response);
    }
    report_allocations(state, before);
}
BENCHMARK(library_transaction);

void bare_transaction(benchmark::State &state)
{
    kv4bench::sim_session session(1, 0);
    kv4bench::bare_exchange bare(session.monitor(0));
    uint8_t response[512];
    const uint64_t before = kv4bench::allocations();
    for (auto _ : state) {
        if (!bare.run(1, status_frame, 1, response, status_response)) {
            state.SkipWithError("exchange failed");
            break;
        }
        benchmark::DoNotOptimize(response);
    }
    report_allocations(state, before);
}
BENCHMARK(bare_transaction);

} // namespace
