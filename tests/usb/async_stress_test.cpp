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
    const uint8_t status = 12;
    if ((tag & 1) && tkcmdsetUSB_send_command(port, &status, 1, 0, static_cast<uint16_t>(tag + 1)) == 0)
        accepted.fetch_add(1);
}

class AsyncStress : public kv4test::SimTest {};

TEST_F(AsyncStress, EveryAcceptedSendEndsInExactlyOneCallback)
{
    std::vector<kv4sim_monitor *> monitors;
    for (int i = 0; i < monitor_count; ++i)
        monitors.push_back(attach_serial(("ASYNC" + std::to_string(i)).c_str()));
    ASSERT_EQ(find().size(), static_cast<std::size_t>(monitor_count));
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
            const uint8_t status = 12;
            const uint32_t start = kv4::tick_count();
            for (int mine = 0, i = 0; mine < 400 && kv4::tick_count() - start < 15000; ++i) {
                const auto port = static_cast<uint16_t>(random() % monitor_count);
                if (tkcmdsetUSB_send_command(port, &status, 1, 0, static_cast<uint16_t>(2 * i + (random() % 2))) == 0) {
                    accepted.fetch_add(1);
                    ++mine;
                }
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
    for (int i = 0; i < 20000 && completed.load() < accepted.load(); ++i)
        kv4::sleep_ms(1);
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
std::atomic<long> accepted{0}, completed{0}, timed_out_early{0};
std::atomic<uint32_t> sent_at[monitor_count];

bool send(uint16_t port)
{
    const uint8_t status = 12;
    // Stamped before the send: the library's clock may read later, never earlier.
    sent_at[port].store(kv4::tick_count());
    if (tkcmdsetUSB_send_command(port, &status, 1, 0, 0) != 0)
        return false;
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
    const long exchanges = wanted ? std::atol(wanted) : 300000;
    for (int i = 0; i < early::monitor_count; ++i)
        attach_serial(("EARLY" + std::to_string(i)).c_str());
    ASSERT_EQ(find().size(), static_cast<std::size_t>(early::monitor_count));
    ASSERT_EQ(tkcmdsetUSB_register_asyncio(early::again, early::timeout_ms), 0);
    for (uint16_t port = 0; early::accepted.load() < exchanges; port = (port + 1) % early::monitor_count)
        early::send(port);
    for (int i = 0; i < 20000 && early::completed.load() < early::accepted.load(); ++i)
        kv4::sleep_ms(1);
    EXPECT_EQ(tkcmdsetUSB_unregister_asyncio(), 0);
    std::printf("accepted %ld, callbacks %ld, timed out early %ld\n", early::accepted.load(),
                early::completed.load(), early::timed_out_early.load());
    EXPECT_EQ(early::completed.load(), early::accepted.load());
    EXPECT_EQ(early::timed_out_early.load(), 0);
}
