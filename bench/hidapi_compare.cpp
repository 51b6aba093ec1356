// The same short exchange with one monitor on the real HID stack, timed through hidapi's hidraw
// backend and through the production library: what the library costs over a plain HID library.
// Both halves write the same report (ID 1 and its 20 bytes: an echo of 19 bytes, a sequence
// number first so that each answer can only be this exchange's) and read its answer, the echo in
// input report 1. Meant for a kv4sim-uhid monitor (tests/vm/hidapi_compare.sh); a monitor on USB
// does as well if it has the same vendor and product IDs.
//
// usage: kv4usbcp_hidapi_compare [SERIAL] [--hidapi-only] [--benchmark_...]
//   SERIAL         the monitor's serial number (SIM00001)
//   --hidapi-only  time hidapi alone: prints no ratio
// Ends with "hidapi round trip: median X us", "kv4usbcp round trip: median Y us" and
// "ratio kv4usbcp/hidapi: Z"; exits 1, with a line starting "FAIL:", when a monitor cannot be
// found or opened or an answer is wrong.
#include "kv4usbcp.h"

#include <benchmark/benchmark.h>
#include <hidapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr unsigned short vendor_id = 0x1209;
constexpr unsigned short product_id = 0x0001;
constexpr uint8_t report_id = 1;        // the 20-byte report, output and input
constexpr std::size_t frame_bytes = 20; // echo code and 19 bytes: the whole report
constexpr int timeout_ms = 2000;        // generous: the guest has no hardware virtualisation

std::string failure; // the first thing that went wrong; empty while all is well

bool fail(const std::string &what)
{
    if (failure.empty())
        failure = what;
    return false;
}

// Echo (command 10) of the sequence number, big-endian, and a fixed pattern: the whole report.
void make_frame(uint32_t sequence, uint8_t *frame)
{
    frame[0] = 10;
    for (int i = 0; i < 4; ++i)
        frame[1 + i] = static_cast<uint8_t>(sequence >> (24 - 8 * i));
    for (std::size_t i = 5; i < frame_bytes; ++i)
        frame[i] = static_cast<uint8_t>(0xA0 + i);
}

std::string serial = "SIM00001";
hid_device *hidapi_device = nullptr;
uint16_t library_port = 0;

bool hidapi_open()
{
    const std::wstring wide(serial.begin(), serial.end());
    if ((hidapi_device = hid_open(vendor_id, product_id, wide.c_str())))
        return true;
    std::string why = "no reason given";
    if (const wchar_t *text = hid_error(nullptr))
        for (why.clear(); *text; ++text)
            why += *text < 0x80 ? static_cast<char>(*text) : '?';
    return fail("hidapi cannot open monitor " + serial + " (vendor 0x1209, product 0x0001): " + why);
}

void hidapi_close()
{
    hid_close(hidapi_device);
    hidapi_device = nullptr;
}

bool hidapi_exchange(uint32_t sequence, double *us)
{
    uint8_t out[1 + frame_bytes] = {report_id}, in[512];
    make_frame(sequence, out + 1);
    const auto start = std::chrono::steady_clock::now();
    const int written = hid_write(hidapi_device, out, sizeof out);
    const int read =
        written == static_cast<int>(sizeof out) ? hid_read_timeout(hidapi_device, in, sizeof in, timeout_ms) : -1;
    *us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
    if (written != static_cast<int>(sizeof out))
        return fail("hid_write wrote " + std::to_string(written) + " bytes");
    // The answer: report 1, status byte 1, the 19 bytes after the code.
    if (read != static_cast<int>(sizeof out) || in[0] != report_id || in[1] != 1 ||
        std::memcmp(in + 2, out + 2, frame_bytes - 1))
        return fail("hidapi: no echo of exchange " + std::to_string(sequence) + " (read " + std::to_string(read) + ")");
    return true;
}

// The port stays registered between runs: shut, it keeps its number and reopens on a reset.
bool library_open()
{
    const int16_t result = tkcmdsetUSB_reset_port(library_port);
    return result == 0 || fail("tkcmdsetUSB_reset_port: " + std::to_string(result));
}

void library_close() { tkcmdsetUSB_shutdown(library_port); }

bool library_exchange(uint32_t sequence, double *us)
{
    uint8_t frame[frame_bytes], response[512];
    make_frame(sequence, frame);
    // The whole report's 20 bytes go in: the library copies only the command into its transfer
    // buffer, and bytes past a shorter one would be what the last transfer left there. 20 answer
    // bytes asked for: in response mode (every new port's) that chooses report 1 both ways. The
    // library hands over the report less one byte, so the echo's last byte is not delivered.
    uint16_t length = frame_bytes;
    const auto start = std::chrono::steady_clock::now();
    const int16_t result = tkcmdsetUSB_do_command(library_port, frame, frame_bytes, response, &length, timeout_ms);
    *us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
    if (result != 0)
        return fail("tkcmdsetUSB_do_command: " + std::to_string(result));
    if (length != frame_bytes - 1 || response[0] != 1 || std::memcmp(response + 1, frame + 1, frame_bytes - 2))
        return fail("kv4usbcp: no echo of exchange " + std::to_string(sequence));
    return true;
}

// One way to the monitor. Each run of its benchmark opens the monitor and closes it again, so
// that the runs of both ways can take turns (against a machine whose load drifts) without the
// other way's handle open beside them, and begins with an untimed exchange: a fresh handle's
// first is not what is measured.
struct way {
    const char *name;
    bool (*open)();
    void (*close)();
    bool (*exchange)(uint32_t sequence, double *us);
    std::vector<double> times; // every exchange timed, in microseconds
    uint32_t sequence = 0;

    bool check() // once before timing, so that a wrong answer is not buried in the output
    {
        double us = 0;
        if (!open())
            return false;
        const bool ok = exchange(sequence++, &us);
        close();
        return ok;
    }

    void run(benchmark::State &state)
    {
        double took = 0;
        if (!failure.empty() || !open()) {
            state.SkipWithError(failure.c_str());
            return;
        }
        if (!exchange(sequence++, &took))
            state.SkipWithError(failure.c_str());
        else
            for (auto _ : state) {
                if (!exchange(sequence++, &took)) {
                    state.SkipWithError(failure.c_str());
                    break;
                }
                times.push_back(took);
                state.SetIterationTime(took / 1e6);
            }
        close();
    }

    // Prints the median, 99th percentile and mean of every exchange timed; returns the median.
    // Google Benchmark's own median is that of the repetitions' means, which the rare slow
    // exchange (a guest's processor woken late) pulls up; the mean shows how far.
    double summarise()
    {
        std::sort(times.begin(), times.end());
        const std::size_t n = times.size();
        const double median = n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
        double sum = 0;
        for (double t : times)
            sum += t;
        std::printf("%s round trip: median %.1f us over %zu exchanges (99th percentile %.1f us, mean %.1f us)\n", name,
                    median, n, times[n * 99 / 100], sum / static_cast<double>(n));
        return median;
    }
};

// How many monitors hidapi sees, by the product string the library looks for.
int monitors_seen_by_hidapi()
{
    int count = 0;
    hid_device_info *list = hid_enumerate(vendor_id, product_id);
    for (hid_device_info *d = list; d; d = d->next)
        count += d->product_string && std::wcsstr(d->product_string, L"Quillon5") != nullptr;
    hid_free_enumeration(list);
    return count;
}

// The library's port of the monitor: by its serial number; where the system gives the library no
// serial string (a refusal closes the port), only when the library and hidapi both see this one
// monitor alone. Leaves the port closed.
bool find_library_port()
{
    if (const int16_t result = tkcmdsetUSB_init())
        return fail("tkcmdsetUSB_init: " + std::to_string(result));
    uint8_t count = 0;
    uint16_t ports[255];
    if (const int16_t result = tkcmdsetUSB_find_devices("Quillon5", &count, ports))
        return fail("tkcmdsetUSB_find_devices: " + std::to_string(result));
    if (count == 0)
        return fail("the library finds no monitor (product \"Quillon5\")");
    bool refused = false, found = false;
    for (uint8_t i = 0; i < count; ++i) {
        char text[64] = {};
        if (tkcmdsetUSB_serial_number(ports[i], text, sizeof text) != 0)
            refused = true;
        else if (!found && serial == text) {
            library_port = ports[i];
            found = true;
        }
        tkcmdsetUSB_shutdown(ports[i]);
    }
    if (!found && refused && count == 1 && monitors_seen_by_hidapi() == 1) {
        std::printf("the library gives no serial number; its only monitor is hidapi's only one\n");
        library_port = ports[0];
        found = true;
    }
    return found || fail("none of the library's " + std::to_string(count) + " monitors has serial " + serial);
}

} // namespace

int main(int argc, char **argv)
{
    bool hidapi_only = false;
    // Five repetitions, the two ways' taking turns, and only their aggregates, unless told otherwise.
    std::string repetitions = "--benchmark_repetitions=5", interleaving = "--benchmark_enable_random_interleaving=true",
                aggregates = "--benchmark_report_aggregates_only=true";
    std::vector<char *> arguments{argv[0], repetitions.data(), interleaving.data(), aggregates.data()};
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--hidapi-only") == 0)
            hidapi_only = true;
        else if (argv[i][0] != '-')
            serial = argv[i];
        else
            arguments.push_back(argv[i]);
    }
    int count = static_cast<int>(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    if (benchmark::ReportUnrecognizedArguments(count, arguments.data()))
        return 2;
    std::printf("monitor %s; each exchange: output report 1 of 20 bytes (echo), its answer in input report 1\n",
                serial.c_str());

    way hidapi{"hidapi", hidapi_open, hidapi_close, hidapi_exchange, {}};
    way library{"kv4usbcp", library_open, library_close, library_exchange, {}};
    if (hid_init() != 0)
        fail("hid_init failed");
    if (failure.empty() && hidapi.check() && !hidapi_only && find_library_port())
        library.check();
    if (failure.empty()) {
        for (way *w : {&hidapi, &library})
            if (w == &hidapi || !hidapi_only)
                benchmark::RegisterBenchmark((std::string(w->name) + "_round_trip").c_str(),
                                             [w](benchmark::State &state) { w->run(state); })
                    ->UseManualTime()
                    ->Unit(benchmark::kMicrosecond);
        benchmark::RunSpecifiedBenchmarks();
    }
    tkcmdsetUSB_shutdown_all();
    hid_exit();
    benchmark::Shutdown();

    for (way *w : {&hidapi, &library})
        if (failure.empty() && (w == &hidapi || !hidapi_only) && w->times.empty())
            fail(std::string(w->name) + ": no exchange timed (filtered out?)");
    if (!failure.empty()) {
        std::printf("FAIL: %s\n", failure.c_str());
        return 1;
    }
    const double hidapi_median = hidapi.summarise();
    if (!hidapi_only)
        std::printf("ratio kv4usbcp/hidapi: %.2f\n", library.summarise() / hidapi_median);
    return 0;
}
