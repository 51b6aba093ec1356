// A seeded soak: host threads make random calls on the ports of simulated monitors that another thread
// unplugs, replaces and faults, in rounds; between rounds, at quiet points, every monitor's port must
// reset and answer, no port may stay claimed, and the device events heard must match the plugging
// (now and then the library is also shut down and started again there). KV4_SOAK_SEED and
// KV4_SOAK_OPERATIONS replay a failure or run longer.
#include "support/exports.h"
#include "support/sim_fixture.h"

#include "usb/registry.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <random>
#include <thread>
#include <tuple>

namespace {

using namespace std::chrono;

constexpr int host_threads = 4;
constexpr uint16_t monitors = 4;  // the first is the clean monitor, on port 0
constexpr uint16_t port_span = 7; // the first four serials, then the other serial of each replacement
constexpr int no_expectation = 1; // no result code is positive
constexpr uint32_t block = 64;
constexpr unsigned long round_length = 1000, storm_length = 40; // the latter: calls on each port in a closing storm

// What the library's callbacks report, and what the plugging allows them to report: per serial, at
// most one arrival per plug-in (the first discovery opens the monitors before events are heard of)
// and one removal per unplug. Allowances grow before the plug action they allow.
struct tallies {
    std::mutex guard;
    std::map<std::string, int> arrivals, removals, arrivals_allowed, removals_allowed;
    std::atomic<unsigned long> accepted{0}, completed{0};

    void allow(std::map<std::string, int> &allowed, const std::string &serial, int more = 1)
    {
        std::lock_guard<std::mutex> lock(guard);
        allowed[serial] += more;
    }
} heard;

template <typename... Args> std::string text(const char *format, Args... args)
{
    char buffer[300];
    std::snprintf(buffer, sizeof buffer, format, args...);
    return buffer;
}

std::string describe(int code)
{
    char name[37] = {};
    tkcmdsetUSB_get_error_name(static_cast<int16_t>(code), name, 36);
    return text("%d (%s)", code, name);
}

// A call may take both transfers' time-out and some slack: a hung call is what this catches, not a
// slow one. Discovery and reopening probe monitors and may wait for the longest command (6 s).
double within(double timeout_ms) { return 2 * timeout_ms / 1000 + 3; }
const double discovery_bound = within(6000);

// A block of the clean monitor and what it may hold: what the last write that succeeded left, then
// each write that failed since (it may or may not have reached the monitor).
struct clean_block {
    int region;
    uint32_t address;
    std::vector<std::vector<uint8_t>> possible;
};

class Soak : public kv4test::SimTest {
  protected:
    template <typename Call> int16_t timed(const std::string &what, double bound_s, int expected, Call call)
    {
        const auto start = steady_clock::now();
        const int16_t result = call();
        if (const double took = duration<double>(steady_clock::now() - start).count(); took > bound_s)
            report(what + text(" took %.1f s, more than %.1f s", took, bound_s));
        const std::string name = describe(result); // the monitor's own codes are in the error table too
        if (result != 0 && result != TKUSB_GET_STRING_ERR && name.find("Unknown Error") != std::string::npos)
            report(what + " returned " + name + ", which has no name");
        else if (expected != no_expectation && result != expected)
            report(what + " returned " + describe(result) + " instead of " + describe(expected));
        return result;
    }
    void report(const std::string &message)
    {
        if (++violations <= 30)
            ADD_FAILURE() << message;
    }
    int16_t random_call(std::mt19937 &rng, const uint8_t *data, uint8_t *out, int storm_port);
    void clean_write(std::mt19937 &rng, clean_block &b);
    void check_quiet(const std::string (&serials)[monitors], const char *when);
    void listen(bool on)
    {
        const auto event = [](uint16_t, int32_t code, const char *, const char *serial) {
            std::lock_guard<std::mutex> lock(heard.guard);
            ++(code == TKUSB_EVENT_DEVICE_CONNECTED ? heard.arrivals : heard.removals)[serial];
        };
        const auto completion = [](uint16_t, const uint8_t *, uint16_t, int16_t, int16_t) { ++heard.completed; };
        ASSERT_EQ(on ? tkcmdsetUSB_register_events2(event) : tkcmdsetUSB_unregister_events2(), 0);
        ASSERT_EQ(on ? tkcmdsetUSB_register_asyncio(completion, 1000) : tkcmdsetUSB_unregister_asyncio(), 0);
    }

    std::atomic<int> violations{0};
    std::atomic<unsigned long> confirmed_writes{0};
};

// The call as written, with the values of its arguments.
#define CALL(bound, expected, ...)                                                                                     \
    timed(text("%s with port %u, address %#x, count %u, length %u, value %#x, timeout %u%s", #__VA_ARGS__, port,       \
               address, count, length, value, timeout, null ? ", null output" : ""),                                   \
          bound, expected, [&] { return __VA_ARGS__; })

// A random call with at most one flaw (a port never handed out, a null output, an oversized block),
// which decides its result; in a storm, resets, shutdowns and status of one port, all at once.
int16_t Soak::random_call(std::mt19937 &rng, const uint8_t *data, uint8_t *out, int storm_port)
{
    static constexpr uint16_t never_handed_out[] = {200, 1000, 0xFFFF}, timeouts[] = {0, 5, 50, 100};
    // A pick chooses the kind of call: kind k has the picks from ends[k - 1] up to ends[k].
    static constexpr unsigned ends[] = {4,  8,  11, 12, 13, 14, 15, 16, 17, 18, 19,
                                        20, 21, 22, 24, 26, 28, 29, 31, 35, 36, 37};
    const unsigned pick = storm_port < 0 ? rng() % 38 : rng() % 8 < 5 ? 8 : rng() % 3 ? 31 : 29;
    const auto kind = std::upper_bound(std::begin(ends), std::end(ends), pick) - std::begin(ends);
    const unsigned flaw = rng() % 5 || storm_port >= 0 ? 0 : rng() % 3 + 1;
    const bool bad_port = flaw == 1, null = flaw == 2, oversize = flaw == 3;
    uint16_t port = storm_port >= 0 ? storm_port : bad_port ? never_handed_out[rng() % 3] : rng() % port_span;
    // The clean monitor's memories have one writer, and it gets no short time-out: the late answer
    // would be taken by a later command.
    if (port == 0 && (kind == 0 || (kind >= 8 && kind <= 10)))
        port = 1;
    const uint32_t where = rng() % 3, value = rng();
    const uint32_t address = where == 0 ? rng() : where == 1 ? rng() % 0x2000 : 0x100000 - rng() % 128;
    const uint16_t count = static_cast<uint16_t>(oversize ? 501 + rng() % 1000 : 1 + rng() % (block / 2));
    const uint16_t length = static_cast<uint16_t>(oversize ? 512 + rng() % 100 : rng() % 300);
    const uint16_t timeout = timeouts[rng() % 4];
    const int port_fault = bad_port ? TKUSB_INVALID_PORT_ERR : no_expectation;
    const int null_fault = null ? TKUSB_INVALID_PARAMETER : port_fault;
    const int read_fault = oversize ? TKUSB_READ_FAILED_ERR : null_fault;
    const int write_fault = oversize ? TKUSB_WRITE_FAILED_ERR : null_fault;
    uint16_t response_length = static_cast<uint16_t>(2 * count + 1), *wanted = null ? nullptr : &response_length;
    uint16_t short_response = 7, size = 0, ports[255];
    uint32_t word = 0, *word_out = null ? nullptr : &word;
    uint8_t *sink = null ? nullptr : out, mode = 0;
    tkcmdsetUSB_update_status status{};
    switch (kind) {
    case 0: // any frame, memory writes too; room for a refusal's code in the answer
        response_length = static_cast<uint16_t>(3 + value % 598);
        return CALL(within(timeout), null_fault, tkcmdsetUSB_do_command(port, data, length, out, wanted, timeout));
    case 1:
        return CALL(within(1000), oversize ? TKUSB_INVALID_PARAMETER : port_fault,
                    tkcmdsetUSB_echo(port, data, length));
    case 2: return CALL(within(1000), null_fault, tkcmdsetUSB_status(port, word_out));
    case 3: return CALL(within(6000), port_fault, tkcmdsetUSB_special(port, length, value, word_out)); // null allowed
    case 4: return CALL(within(6000), read_fault, tkcmdsetUSB_read_eeblk8(port, address, sink, count, wanted));
    case 5: return CALL(within(6000), read_fault, tkcmdsetUSB_read_memblk8(port, address, sink, count, wanted));
    case 6: return CALL(within(6000), read_fault, tkcmdsetUSB_read_flashblk16(port, address, sink, count, wanted));
    case 7: return CALL(within(6000), read_fault, tkcmdsetUSB_read_spiflashblk8(port, address, sink, count, wanted));
    case 8: return CALL(within(6000), write_fault, tkcmdsetUSB_write_eeblk8(port, address, data, count, wanted));
    case 9: return CALL(within(6000), write_fault, tkcmdsetUSB_write_memblk8(port, address, data, count, wanted));
    case 10: return CALL(within(1000), write_fault, tkcmdsetUSB_write_memblk16(port, address, data, count, wanted));
    case 11: return CALL(within(6000), write_fault, tkcmdsetUSB_write_flashblk16(port, address, data, count, wanted));
    case 12: return CALL(within(6000), write_fault, tkcmdsetUSB_write_spiflashblk8(port, address, data, count, wanted));
    case 13: // the length stays below 64 KiB, keeping the time-out under 2.5 s
        return CALL(within(1000 + (value & 0xFFFF) * 0.0228), null_fault,
                    tkcmdsetUSB_get_image_crc(port, address, word_out, value & 0xFFFF, &short_response));
    case 14:
        return CALL(within(6000), null_fault, tkcmdsetUSB_get_update_status(port, null ? 0 : &status, &short_response));
    case 15: return CALL(within(0), port_fault, tkcmdsetUSB_set_feature(port, value & 0xFFFF, 0));
    case 16: // serial number and versions
        return CALL(within(0), null_fault,
                    kv4test::string_queries[value % 4](port, reinterpret_cast<char *>(sink), 1 + value % 40));
    case 17: return CALL(within(0), null_fault, tkcmdsetUSB_max_report_size(port, null ? nullptr : &size));
    case 18: return CALL(within(0), port_fault, tkcmdsetUSB_shutdown(port));
    case 19: return CALL(discovery_bound, port_fault, tkcmdsetUSB_reset_port(port));
    case 20: return CALL(within(0), null_fault, tkcmdsetUSB_get_buffer_mode(port, null ? nullptr : &mode));
    case 21: { // a status exchange; its callback is counted
        const uint8_t status_frame[1] = {12};
        // The port is looked up before the command is: a null command on a port never handed out
        // gives either code.
        const int16_t result =
            CALL(within(0), null ? no_expectation : port_fault,
                 tkcmdsetUSB_send_command(port, null ? nullptr : status_frame, 1, 0, value & 0xFFFF));
        heard.accepted += result == 0;
        return result;
    }
    default: // rare: each monitor the library holds open costs discovery a 100 ms retry
        return CALL(discovery_bound, null ? TKUSB_INVALID_PARAMETER : no_expectation,
                    tkcmdsetUSB_find_devices(kv4test::monitor_filter, nullptr, null ? nullptr : ports));
    }
}

void Soak::clean_write(std::mt19937 &rng, clean_block &b)
{
    std::vector<uint8_t> bytes(block);
    std::generate(bytes.begin(), bytes.end(), [&] { return static_cast<uint8_t>(rng()); });
    uint16_t length = 3;
    const auto write = b.region == KV4SIM_EEPROM ? tkcmdsetUSB_write_eeblk8 : tkcmdsetUSB_write_memblk8;
    if (timed(text("writing the clean monitor's block %#x of region %d", b.address, b.region), within(6000),
              no_expectation, [&] { return write(0, b.address, bytes.data(), block, &length); }) == 0)
        b.possible.assign(1, bytes), ++confirmed_writes;
    else
        b.possible.push_back(bytes);
}

// At a quiet point (no host call, no plugging; the library's own threads may still be at work):
// every accepted exchange has had its callback, and then no port stays claimed; every monitor's
// port resets and answers, with discovery between the tries; the device events heard stay within
// what the plugging allows.
void Soak::check_quiet(const std::string (&serials)[monitors], const char *when)
{
    kv4test::eventually([] { return heard.completed >= heard.accepted; }, 30000);
    if (heard.completed != heard.accepted)
        report(text("%s, %lu exchanges were accepted and %lu callbacks came", when, heard.accepted.load(),
                    heard.completed.load()));
    ASSERT_EQ(tkcmdsetUSB_lock(), 0);
    for (uint16_t port = 0; port < kv4::port_counter(); ++port)
        if (const uint32_t state = kv4::tkusb_platform_get_device(port)->io_state.load(); state != kv4::TKUSB_IO_IDLE)
            report(text("%s, port %u stays claimed (I/O state %u)", when, port, state));
    ASSERT_EQ(tkcmdsetUSB_unlock(), 0);
    for (const std::string &serial : serials) {
        int16_t reset = no_expectation, status = no_expectation;
        for (int attempt = 0; attempt < 8 && (reset != 0 || status != 0); ++attempt) {
            if (attempt)
                std::this_thread::sleep_for(milliseconds(20));
            find();
            if (const kv4::win32_device *device = kv4::tkusb_platform_find_by_serial(serial.c_str()))
                status = (reset = tkcmdsetUSB_reset_port(device->port)) != 0 ? no_expectation : status_on(device->port);
        }
        if (reset != 0 || status != 0)
            report(text("%s, monitor %s cannot be used: reset gives %s, status %s", when, serial.c_str(),
                        describe(reset).c_str(), describe(status).c_str()));
    }
    std::lock_guard<std::mutex> lock(heard.guard);
    for (auto [what, got, allowed] : {std::make_tuple("arrivals", &heard.arrivals, &heard.arrivals_allowed),
                                      std::make_tuple("removals", &heard.removals, &heard.removals_allowed)})
        for (const auto &[serial, count] : *got)
            if (count > (*allowed)[serial])
                report(
                    text("%s, %d %s of %s were heard for %d", when, count, what, serial.c_str(), (*allowed)[serial]));
}

TEST_F(Soak, RandomCallsAndPlugEventsKeepEveryPortUsableAndEveryCodeNamed)
{
    const char *seed_text = std::getenv("KV4_SOAK_SEED"), *operations_text = std::getenv("KV4_SOAK_OPERATIONS");
    const unsigned seed = seed_text ? static_cast<unsigned>(std::strtoul(seed_text, nullptr, 0)) : 20240611u;
    const unsigned long operations = operations_text ? std::strtoul(operations_text, nullptr, 0) : 3000;

    // Only the plug thread uses the monitors while the host threads run; those know ports only.
    const auto clear_faults = [](kv4sim_monitor *m) {
        for (int fault = KV4SIM_FAULT_REFUSE_WRITE; fault <= KV4SIM_FAULT_REFUSE_VALUE_CAPS; ++fault)
            kv4sim_set_fault(m, fault, 0);
    };
    std::string serials[monitors] = {"CLEAN", "F1", "F2", "F3"};
    kv4sim_monitor *attached[monitors];
    for (int i = 0; i < monitors; ++i)
        attached[i] = attach_serial(serials[i].c_str());
    ASSERT_EQ(find(), (std::vector<uint16_t>{0, 1, 2, 3}));
    std::vector<clean_block> clean;
    for (uint32_t i = 0; i < 64; ++i)
        clean.push_back({i % 2 ? KV4SIM_RAM : KV4SIM_EEPROM, i / 2 * block, {std::vector<uint8_t>(block, i)}});
    for (const clean_block &b : clean)
        ASSERT_EQ(kv4sim_write_memory(attached[0], b.region, b.address, b.possible[0].data(), block), 0);

    for (const std::string &serial : serials)
        heard.allow(heard.arrivals_allowed, serial);
    listen(true);

    // The threads share the round's count and stop together: one left running alone would tidy up
    // what the others did and hide it from the checks after the round. They start the round's
    // closing storm together.
    for (unsigned long done = 0, round = 1; done < operations; done += round_length, ++round) {
        const unsigned long length = std::min(round_length, operations - done);
        std::atomic<unsigned long> started{0};
        std::atomic<int> finished{0}, storming{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < host_threads; ++t)
            threads.emplace_back([&, t] {
                std::mt19937 rng(seed + static_cast<unsigned>(round * 1000 + t + 1));
                std::vector<uint8_t> data(1024), out(600);
                std::generate(data.begin(), data.end(), [&] { return static_cast<uint8_t>(rng()); });
                bool in_storm = false;
                for (unsigned long i; (i = started++) < length;) {
                    const unsigned long left = length - i - 1;
                    if (left < storm_length * monitors && !in_storm)
                        for (in_storm = true, ++storming; storming + finished < host_threads;)
                            std::this_thread::sleep_for(milliseconds(1));
                    if (t == 0 && !in_storm && rng() % 3 == 0) // thread 0 alone writes the clean blocks
                        clean_write(rng, clean[rng() % clean.size()]);
                    else
                        random_call(rng, data.data() + rng() % 256, out.data(),
                                    in_storm ? static_cast<int>(left / storm_length) : -1);
                }
                ++finished;
            });
        threads.emplace_back([&] {
            std::mt19937 rng(seed + static_cast<unsigned>(round * 1000 + 100));
            for (; finished < host_threads; std::this_thread::sleep_for(milliseconds(10))) {
                const int i = 1 + static_cast<int>(rng() % (monitors - 1));
                kv4sim_monitor *m = attached[i];
                if (const unsigned action = rng() % 10; action < 4) {
                    // At most one fault, and none most of the time (no answer: below; no value
                    // capabilities: a monitor the library opens so would stay useless).
                    clear_faults(m);
                    if (const int fault = static_cast<int>(1 + rng() % 7); rng() % 3 == 0) {
                        if (fault == KV4SIM_FAULT_UNPLUG_ON_WRITE) // a write may unplug it
                            heard.allow(heard.removals_allowed, serials[i]);
                        kv4sim_set_fault(m, fault == KV4SIM_FAULT_NO_ANSWER ? KV4SIM_FAULT_REFUSE_PREPARSED : fault, 1);
                    }
                } else if (action < 7) {
                    if (action == 4) { // it stops answering for a moment; the unplug ends the transfers left waiting
                        kv4sim_set_fault(m, KV4SIM_FAULT_NO_ANSWER, 1);
                        std::this_thread::sleep_for(milliseconds(1 + rng() % 3));
                        kv4sim_set_fault(m, KV4SIM_FAULT_NO_ANSWER, 0);
                    }
                    heard.allow(heard.removals_allowed, serials[i]);
                    kv4sim_detach(m);
                    std::this_thread::sleep_for(microseconds(rng() % 2000));
                    heard.allow(heard.arrivals_allowed, serials[i]);
                    EXPECT_EQ(kv4sim_reattach(m, static_cast<int>(rng() % 2)), 0);
                } else if (action == 7) { // a replacement, under the same serial (and port) or the slot's other one
                    heard.allow(heard.removals_allowed, serials[i]);
                    kv4sim_destroy(m);
                    serials[i] = text(rng() % 2 ? "F%d" : "F%db", i);
                    heard.allow(heard.arrivals_allowed, serials[i]);
                    attached[i] = attach_serial(serials[i].c_str());
                } else
                    kv4sim_set_latency_us(attached[rng() % monitors], rng() % 500, rng() % 500);
            }
        });
        for (std::thread &thread : threads)
            thread.join();
        for (int i = 0; i < monitors; ++i) { // the bus goes quiet; a write may have unplugged a monitor
            clear_faults(attached[i]);
            heard.allow(heard.arrivals_allowed, serials[i], kv4sim_reattach(attached[i], 0) == 0); // else plugged in
        }
        check_quiet(serials, text("after round %lu", round).c_str());
        if (round % 2 == 0 && done + round_length < operations) { // the library starts afresh, the clean monitor first
            listen(false);
            tkcmdsetUSB_shutdown_all();
            ASSERT_EQ(tkcmdsetUSB_init(), 0);
            ASSERT_GE(find().size(), 1u);
            ASSERT_STREQ(kv4::tkusb_platform_get_device(0)->serial_number, "CLEAN");
            listen(true);
        }
    }
    listen(false);

    // A port whose monitor was unplugged while it was open holds a handle that died with it: its first
    // transfer fails and closes it, and the next discovery opens it again. So the first pass allows
    // those failures, the second none; a port listed open that answers anything else is unusable.
    for (int pass = 1; pass <= 2; ++pass) {
        const std::vector<uint16_t> listed = find();
        for (const uint16_t port : listed)
            if (const int16_t result = status_on(port);
                result != 0 && (pass == 2 || (result != TKUSB_WRITE_FAILED_ERR && result != TKUSB_READ_FAILED_ERR)))
                report(text("after the run (pass %d), port %u is listed open but answers status with %s", pass, port,
                            describe(result).c_str()));
        EXPECT_TRUE(pass == 1 || listed.size() == monitors) << "after the run, discovery lists " << listed.size();
    }

    for (const clean_block &b : clean) {
        std::vector<uint8_t> held(block);
        ASSERT_EQ(kv4sim_read_memory(attached[0], b.region, b.address, held.data(), block), 0);
        if (std::find(b.possible.begin(), b.possible.end(), held) == b.possible.end())
            report(text("%s block %#x of the clean monitor holds bytes that no write (of %u) sent",
                        b.region == KV4SIM_EEPROM ? "EEPROM" : "RAM", b.address, unsigned(b.possible.size())));
    }
    EXPECT_GT(confirmed_writes.load(), 0u) << "no write to the clean monitor ever succeeded";
}

} // namespace
