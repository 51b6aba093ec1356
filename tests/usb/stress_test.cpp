// Several host threads issue commands, shutdowns, resets and discoveries while monitors are
// unplugged and plugged in again: a fixed number of operations, and every call must come back
// with a code the library can name.
#include "support/sim_fixture.h"

#include <atomic>
#include <cstring>
#include <random>
#include <thread>

namespace {

using kv4test::SimTest;

bool named(int16_t code)
{
    if (code == 0)
        return true;
    char name[36];
    tkcmdsetUSB_get_error_name(code, name, sizeof name);
    return std::strcmp(name, "Unknown Error") != 0;
}

int16_t random_operation(std::mt19937 &random, uint16_t port)
{
    uint8_t data[600] = {};
    uint16_t length = 0;
    uint32_t word = 0;
    uint8_t ports[255 * 2];
    uint8_t count = 0;
    switch (random() % 16) { // discovery is rare: each open monitor costs it a 100 ms retry
    case 0: return tkcmdsetUSB_echo(port, data, static_cast<uint16_t>(random() % 300));
    case 1: return tkcmdsetUSB_status(port, &word);
    case 2:
        length = 201;
        return tkcmdsetUSB_read_eeblk8(port, random() % 8192, data, 200, &length);
    case 3:
        length = 3; // room for a refusal: status byte and the 16-bit code
        return tkcmdsetUSB_write_flashblk16(port, random() % 4096, data, 20, &length);
    case 4: return tkcmdsetUSB_shutdown(port);
    case 5: return tkcmdsetUSB_reset_port(port);
    case 6:
        if (random() % 4)
            return tkcmdsetUSB_do_command(port, data, 3, data + 8, &(length = 10), 50);
        return tkcmdsetUSB_find_devices(kv4test::monitor_filter, &count, reinterpret_cast<uint16_t *>(ports));
    case 7: return tkcmdsetUSB_special(port, 1, 2, &word);
    default: return tkcmdsetUSB_echo(port, data, 3);
    }
}

class Stress : public SimTest {};

TEST_F(Stress, HostThreadsAndPlugEventsNeverCrashHangOrReturnUnnamedCodes)
{
    constexpr int monitors = 3;
    constexpr int host_threads = 4;
    constexpr int operations = 250;
    kv4sim_monitor *attached[monitors];
    for (int i = 0; i < monitors; ++i) {
        attached[i] = attach_serial(("S" + std::to_string(i)).c_str());
        kv4sim_set_latency_us(attached[i], 200, 300);
    }
    ASSERT_EQ(find().size(), static_cast<size_t>(monitors));

    std::atomic<int> unnamed{0};
    std::atomic<int> last_unnamed{0};
    std::atomic<int> done{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < host_threads; ++t)
        threads.emplace_back([&, t] {
            std::mt19937 random(1234 + t);
            for (int i = 0; i < operations; ++i) {
                const int16_t code = random_operation(random, static_cast<uint16_t>(random() % (monitors + 1)));
                if (!named(code)) {
                    ++unnamed;
                    last_unnamed = code;
                }
            }
            ++done;
        });
    threads.emplace_back([&] {
        std::mt19937 random(99);
        for (int i = 0; i < 60; ++i) {
            kv4sim_monitor *monitor = attached[random() % monitors];
            kv4sim_detach(monitor);
            kv4::sleep_ms(1);
            kv4sim_reattach(monitor, static_cast<int>(random() % 2));
        }
    });
    for (auto &thread : threads)
        thread.join();
    EXPECT_EQ(done.load(), host_threads);
    EXPECT_EQ(unnamed.load(), 0) << "for example " << last_unnamed.load();
    // Every monitor is still attached and reachable once the dust settles.
    EXPECT_EQ(find().size(), static_cast<size_t>(monitors));
}

} // namespace
