// Many monitors (more than one wait can hold), several host threads sending, and monitors that
// stall, refuse and leave: every accepted send ends in exactly one callback.
#include "support/sim_fixture.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>

namespace {

constexpr int monitor_count = 70;
std::atomic<int> accepted{0};
std::atomic<int> completed{0};
std::atomic<int> unnamed{0};

// Half the exchanges queue the next one from inside the callback, as a polling host does.
void count_completion(uint16_t port, const uint8_t *, uint16_t, int16_t result, int16_t tag)
{
    if (result > 0 || (result < 0 && result > -10000))
        unnamed.fetch_add(1);
    completed.fetch_add(1);
    if ((tag & 1) && kv4test::send_status(port, static_cast<uint16_t>(tag + 1)) == 0)
        accepted.fetch_add(1);
}

class AsyncStress : public kv4test::SimTest {};

TEST_F(AsyncStress, EveryAcceptedSendEndsInExactlyOneCallback)
{
    const std::vector<kv4sim_monitor *> monitors = attach_found("ASYNC", monitor_count);
    ASSERT_EQ(tkcmdsetUSB_register_asyncio(count_completion, 300), 0);

    std::atomic<bool> sending{true};
    std::thread plugger([&] {
        std::mt19937 random(7);
        while (sending.load()) {
            kv4sim_monitor *m = monitors[random() % monitor_count];
            // Discovery is left out: with every monitor open, each costs it a 100 ms retry.
            switch (random() % 5) {
            case 0: kv4sim_set_latency_us(m, random() % 3000, random() % 3000); break;
            case 1: kv4sim_set_fault(m, KV4SIM_FAULT_NO_ANSWER, random() % 2); break;
            case 2: kv4sim_set_fault(m, KV4SIM_FAULT_REFUSE_WRITE + random() % 2, random() % 4 == 0); break;
            case 3: kv4sim_detach(m), kv4sim_reattach(m, 0); break;
            default: tkcmdsetUSB_reset_port(static_cast<uint16_t>(random() % monitor_count)); break;
            }
            kv4::sleep_ms(2);
        }
    });
    std::vector<std::thread> hosts;
    // Each host sends until 400 of its sends were accepted (most find their port busy), or for
    // at most 15 s on a very slow machine.
    for (int h = 0; h < 3; ++h)
        hosts.emplace_back([h] {
            std::mt19937 random(100 + h);
            const uint32_t start = kv4::tick_count();
            for (int mine = 0, i = 0; mine < 400 && kv4::tick_count() - start < 15000; ++i) {
                const auto port = static_cast<uint16_t>(random() % monitor_count);
                if (kv4test::send_status(port, static_cast<uint16_t>(2 * i + (random() % 2))) == 0)
                    accepted.fetch_add(1), ++mine;
                if (i % 50 == 0)
                    kv4::sleep_ms(1);
            }
        });
    for (std::thread &host : hosts)
        host.join();
    sending = false;
    plugger.join();
    // A host that shuts down before it unregisters: the exchanges under way still end, once.
    tkcmdsetUSB_shutdown_all();

    // Every exchange ends within its 300 ms time-out and a pass; wait generously, then make sure
    // that nothing more comes.
    kv4test::eventually([] { return completed.load() >= accepted.load(); });
    kv4::sleep_ms(400);
    EXPECT_EQ(tkcmdsetUSB_unregister_asyncio(), 0);
    EXPECT_GT(accepted.load(), 0);
    EXPECT_EQ(completed.load(), accepted.load());
    EXPECT_EQ(unnamed.load(), 0);
}

} // namespace

// One exchange always under way on each of 8 quick monitors, each sent again by a host thread as
// soon as the last one's callback came, so that sends land at any moment of the I/O thread's pass:
// no exchange may end with the time-out before it fell due.
// KV4_STRESS_EXCHANGES sets the count (a longer run for a sanitizer build, say).
namespace early {

constexpr int monitor_count = 8;
constexpr uint16_t timeout_ms = 1000;
// Enough to have seen the fault natively; sanitizers and Wine run the same code many times slower.
#if defined(_WIN32)
constexpr long default_exchanges = 10000;
#elif defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr long default_exchanges = 60000;
#else
constexpr long default_exchanges = 300000;
#endif
std::atomic<long> accepted{0}, completed{0}, timed_out_early{0};
std::atomic<uint32_t> sent_at[monitor_count];

bool send(uint16_t port)
{
    // Stamped before the send, kept only when it was accepted: the library's clock may read later,
    // never earlier. A callback that comes before the store sees an older stamp, which cannot make
    // its exchange look early.
    const uint32_t now = kv4::tick_count();
    if (kv4test::send_status(port) != 0)
        return false;
    sent_at[port].store(now);
    accepted.fetch_add(1);
    return true;
}

void again(uint16_t port, const uint8_t *, uint16_t, int16_t result, int16_t)
{
    if (result == TKUSB_READ_TIMEOUT_ERR && kv4::tick_count() - sent_at[port].load() < timeout_ms)
        timed_out_early.fetch_add(1);
    completed.fetch_add(1);
}

} // namespace early

TEST_F(AsyncStress, NoExchangeTimesOutBeforeItFallsDue)
{
    const char *wanted = std::getenv("KV4_STRESS_EXCHANGES");
    const long exchanges = wanted ? std::atol(wanted) : early::default_exchanges;
    attach_found("EARLY", early::monitor_count);
    ASSERT_EQ(tkcmdsetUSB_register_asyncio(early::again, early::timeout_ms), 0);
    for (uint16_t port = 0; early::accepted.load() < exchanges; port = (port + 1) % early::monitor_count)
        early::send(port);
    kv4test::eventually([] { return early::completed.load() >= early::accepted.load(); });
    EXPECT_EQ(tkcmdsetUSB_unregister_asyncio(), 0);
    std::printf("accepted %ld, callbacks %ld, timed out early %ld\n", early::accepted.load(),
                early::completed.load(), early::timed_out_early.load());
    EXPECT_EQ(early::completed.load(), early::accepted.load());
    EXPECT_EQ(early::timed_out_early.load(), 0);
}

// Exchanges on many ports at once: each port's next exchange is queued from the callback of its
// last, as a polling host does, until it has made `chain` of them.
namespace chains {

constexpr int chain = 30;
std::atomic<int> answered{0}, failed{0};
std::atomic<int> made[monitor_count];

void next(uint16_t port, const uint8_t *, uint16_t, int16_t result, int16_t)
{
    (result == 0 ? answered : failed).fetch_add(1);
    if (port < monitor_count && made[port].fetch_add(1) + 1 < chain && kv4test::send_status(port) != 0)
        failed.fetch_add(1);
}

// Starts a chain on each port and waits for every callback: the exchanges made.
int run(const std::vector<uint16_t> &ports)
{
    answered = failed = 0;
    for (auto &count : made)
        count = 0;
    for (uint16_t port : ports)
        if (kv4test::send_status(port) != 0)
            return 0;
    const int expected = chain * static_cast<int>(ports.size());
    kv4test::eventually([&] { return answered.load() + failed.load() >= expected; }, 30000);
    return answered.load() + failed.load();
}

} // namespace chains

// Where a read ends only while a thread waits for its event (hidraw), the I/O thread must wait on
// every port with an exchange under way, however many ports there are (more than a Windows wait
// holds): all of them busy, or a few busy among many idle.
TEST_F(AsyncStress, ReadsEndedOnlyForAWaiterStillAnswerEveryExchangeOnSeventyPorts)
{
    if (kv4sim_set_rule(KV4SIM_RULE_READ_BY_WAITER, 1) != 0)
        GTEST_SKIP() << "this platform's waits end no reads";
    for (kv4sim_monitor *m : attach_found("WAITER", monitor_count)) // answers a little after the write
        kv4sim_set_latency_us(m, 0, 300);
    const std::vector<uint16_t> ports = find();
    ASSERT_EQ(tkcmdsetUSB_register_asyncio(chains::next, 1000), 0);
    EXPECT_EQ(chains::run(ports), chains::chain * monitor_count);
    EXPECT_EQ(chains::failed.load(), 0);
    const std::vector<uint16_t> last_ones(ports.end() - 7, ports.end());
    EXPECT_EQ(chains::run(last_ones), chains::chain * 7);
    EXPECT_EQ(chains::failed.load(), 0);
    EXPECT_EQ(tkcmdsetUSB_unregister_asyncio(), 0);
}

// A monitor that takes no output report (its writes stall, as a hidraw write blocks) costs its own
// transaction the command's time-out, with the port left open, and the other ports nothing.
TEST_F(AsyncStress, AMonitorThatTakesNoReportsHoldsUpOnlyItsOwnTransaction)
{
    kv4sim_monitor *wedged = attach_found("BUSY", 4)[0];
    ASSERT_EQ(tkcmdsetUSB_register_asyncio(chains::next, 1000), 0);
    kv4sim_set_fault(wedged, KV4SIM_FAULT_WRITE_STALLS, 1);
    int made = 0;
    std::thread others([&made] { made = chains::run({1, 2, 3}); });
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(kv4test::transact(0, 12, 200), TKUSB_WRITE_TIMEOUT_ERR);
    others.join();
    EXPECT_EQ(made, 3 * chains::chain);
    EXPECT_EQ(chains::failed.load(), 0);
    kv4sim_set_fault(wedged, KV4SIM_FAULT_WRITE_STALLS, 0);
    EXPECT_EQ(status_command(), 0); // still open
    EXPECT_EQ(tkcmdsetUSB_unregister_asyncio(), 0);
}

// An answer that came within the time-out is delivered even when the I/O thread looks at it only
// after the time-out, because a host's callback held the thread meanwhile.
namespace held_up {

std::atomic<int16_t> second_result{1};
void slow_first(uint16_t port, const uint8_t *, uint16_t, int16_t result, int16_t)
{
    if (port == 0)
        kv4::sleep_ms(800);
    else
        second_result = result;
}

} // namespace held_up

TEST_F(AsyncStress, AnAnswerThatCameInTimeIsDeliveredAfterACallbackHeldTheThread)
{
    // Port 1's exchange is under way when port 0's callback begins, and its answer comes while
    // that callback holds the thread past port 1's time-out.
    kv4sim_set_latency_us(attach_serial("FIRST"), 0, 100000);
    kv4sim_set_latency_us(attach_serial("LATER"), 0, 200000);
    ASSERT_EQ(find().size(), 2u);
    ASSERT_EQ(tkcmdsetUSB_register_asyncio(held_up::slow_first, 500), 0);
    ASSERT_EQ(kv4test::send_status(1), 0);
    ASSERT_EQ(kv4test::send_status(0), 0);
    kv4test::eventually([] { return held_up::second_result.load() != 1; });
    EXPECT_EQ(held_up::second_result.load(), 0);
    EXPECT_EQ(tkcmdsetUSB_unregister_asyncio(), 0);
}
