// What a host hears through the event callbacks as simulated monitors and volumes come and go.
#include "events/events.h"
#include "support/sim_fixture.h"
#include "usb/registry.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <random>
#include <thread>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#endif

namespace kv4test {
namespace {

// Every callback call as a line, "port/code" and then the variant's texts and product ID.
struct event_log {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> lines;

    void add(std::string line)
    {
        std::lock_guard<std::mutex> guard(mutex);
        lines.push_back(std::move(line));
        changed.notify_all();
    }
    // The lines once there are n of them (what came by then after a generous wait), then clears.
    std::vector<std::string> take(std::size_t n)
    {
        std::unique_lock<std::mutex> guard(mutex);
        changed.wait_for(guard, std::chrono::seconds(20), [&] { return lines.size() >= n; });
        return std::exchange(lines, {});
    }
} events;

std::string line(uint16_t port, int32_t code, const char *text = nullptr, const char *serial = nullptr, int pid = -1)
{
    std::string out = std::to_string(port) + "/" + std::to_string(code);
    if (text)
        out += std::string("/") + text + "/" + (serial ? serial : "(null)");
    return pid < 0 ? out : out + "/" + std::to_string(pid);
}
void on_event1(uint16_t port, int32_t code) { events.add(line(port, code)); }
void on_event2(uint16_t p, int32_t code, const char *name, const char *sn) { events.add(line(p, code, name, sn)); }
void on_event3(uint16_t p, int32_t code, const char *name, const char *sn, uint16_t pid)
{
    events.add(line(p, code, name, sn, pid));
}
using heard = std::vector<std::string>;
int16_t (*const unregister[])() = {tkcmdsetUSB_unregister_events, tkcmdsetUSB_unregister_events2,
                                   tkcmdsetUSB_unregister_events3};

bool port_open(uint16_t port)
{
    auto *d = kv4::tkusb_platform_get_device(port);
    return d && d->is_open.load();
}

class DeviceEvents : public SimTest {
  protected:
    void TearDown() override
    {
        for (const auto variant : unregister)
            variant();
        events.take(0);
        SimTest::TearDown();
    }
    // Events are handled in order: once a volume broadcast's own callback came, everything
    // broadcast before it has been handled.
    std::vector<std::string> settled(std::size_t expected)
    {
        kv4sim_broadcast_volume(1u << 25, KV4SIM_ARRIVAL, 0);
        std::vector<std::string> lines = events.take(expected + 1);
        lines.resize(lines.empty() ? 1 : lines.size() - 1); // nothing at all shows as one empty line
        return lines;
    }
};

TEST_F(DeviceEvents, RegistrationCodesAndOneVariantAtATime)
{
    EXPECT_EQ(tkcmdsetUSB_register_events(nullptr), TKUSB_INVALID_PARAMETER);
    EXPECT_EQ(tkcmdsetUSB_register_events2(nullptr), TKUSB_INVALID_PARAMETER);
    EXPECT_EQ(tkcmdsetUSB_register_events3(nullptr), TKUSB_INVALID_PARAMETER);
    EXPECT_EQ(tkcmdsetUSB_unregister_events(), TKUSB_EVENT_REGISTER_ERR);
#ifndef _WIN32
    // A registration the system refuses leaves nothing behind that would refuse the next one.
    ASSERT_EQ(kv4sim_set_rule(KV4SIM_RULE_REFUSE_PLUG_EVENTS, 1), 0);
    EXPECT_EQ(tkcmdsetUSB_register_events2(on_event2), TKUSB_EVENT_REGISTER_ERR);
    ASSERT_EQ(kv4sim_set_rule(KV4SIM_RULE_REFUSE_PLUG_EVENTS, 0), 0);
#endif
    ASSERT_EQ(tkcmdsetUSB_register_events2(on_event2), 0);
    EXPECT_EQ(tkcmdsetUSB_register_events2(on_event2), TKUSB_EVENT_REGISTER_ERR);
    EXPECT_EQ(tkcmdsetUSB_register_events(on_event1), TKUSB_EVENT_REGISTER_ERR);
    EXPECT_EQ(tkcmdsetUSB_unregister_events(), TKUSB_EVENT_REGISTER_ERR);
    attach_serial("KEPT");
    EXPECT_EQ(settled(1), heard{line(0, 1, "KV4 Quillon5 Monitor", "KEPT")});
    EXPECT_EQ(tkcmdsetUSB_unregister_events2(), 0);
    EXPECT_EQ(tkcmdsetUSB_unregister_events2(), TKUSB_EVENT_REGISTER_ERR);
    EXPECT_EQ(tkcmdsetUSB_register_events(on_event1), 0); // a new thread, for another variant
    // The monitor the event thread opened carries asynchronous exchanges.
    ASSERT_EQ(tkcmdsetUSB_register_asyncio(
                  [](uint16_t port, const uint8_t *data, uint16_t length, int16_t result, int16_t tag) {
                      events.add(line(port, result) + "/" + std::to_string(tag) + "/" + std::to_string(length) + "/" +
                                 std::to_string(data ? data[0] : -1));
                  },
                  2000),
              0);
    const uint8_t echo[] = {10, 0xAB};
    ASSERT_EQ(tkcmdsetUSB_send_command(0, echo, sizeof echo, 0, 7), 0);
    EXPECT_EQ(events.take(1), heard{"0/0/7/19/1"});
    EXPECT_EQ(tkcmdsetUSB_unregister_asyncio(), 0);
    EXPECT_EQ(tkcmdsetUSB_unregister_events(), 0);
    ASSERT_EQ(tkcmdsetUSB_register_events3(on_event3), 0);
    EXPECT_EQ(tkcmdsetUSB_unregister_events3(), 0);
}

// Monitors already attached arrive at registration unless the host opened them; a later one is told
// of while its port is open, on arrival and on removal.
TEST_F(DeviceEvents, RemovalWhileOpenThenReplugBySamePathAndByNewPathKeepThePort)
{
    attach_serial("HOST");
    ASSERT_EQ(find(), std::vector<uint16_t>{0});
    attach_serial("IDLE");
    kv4sim_monitor_desc other{};
    other.product = "Some Keyboard";
    attach(&other);
    static bool open_when_told = false;
    ASSERT_EQ(
        tkcmdsetUSB_register_events3([](uint16_t port, int32_t code, const char *name, const char *sn, uint16_t pid) {
            open_when_told = port_open(port);
            on_event3(port, code, name, sn, pid);
        }),
        0);
    EXPECT_EQ(settled(1), heard{line(1, 1, "KV4 Quillon5 Monitor", "IDLE", 1)});
    EXPECT_TRUE(port_open(1));
    EXPECT_EQ(debug.count("-->Device Event, connect=1, Unable to load device!"), 1u); // the keyboard
    const auto told = [](int32_t code) { return heard{line(2, code, "KV4 Quillon5 Monitor", "GONE", 0x4321)}; };
    kv4sim_monitor_desc desc{};
    desc.product_id = 0x4321;
    desc.serial = "GONE";
    monitor = attach(&desc);
    EXPECT_EQ(events.take(1), told(1));
    EXPECT_TRUE(open_when_told);
    kv4sim_detach(monitor);
    EXPECT_EQ(events.take(1), told(2));
    EXPECT_TRUE(open_when_told);
    EXPECT_EQ(settled(0), heard{}); // the port is closed after the callback
    EXPECT_FALSE(port_open(2));
    EXPECT_EQ(debug.count("------>USB DLL:**Closed Device Due to Disconnect**"), 1u);

    // Each change waits for its event: an arrival handled after the monitor left again finds
    // nothing to open, as on a real bus.
    kv4sim_reattach(monitor, 0);
    EXPECT_EQ(events.take(1), told(1));
    kv4sim_detach(monitor);
    EXPECT_EQ(events.take(1), told(2));
    kv4sim_reattach(monitor, 1);
    EXPECT_EQ(events.take(1), told(1));
    EXPECT_TRUE(port_open(2));
}

// Ports go by path. Under a path of its own a monitor plugged in where another was is itself;
// under a path another monitor had, as Linux hands a freed /dev/hidrawN to the next device, it is
// taken for that one: its port, its serial, its commands. So a backend names every plug anew.
TEST_F(DeviceEvents, APortFollowsItsPathSoAPathHandedOnTakesTheNextMonitorForTheFirst)
{
    kv4sim_monitor *a = attach_serial("AAAA");
    kv4sim_monitor *b = attach_serial("BBBB");
    ASSERT_EQ(tkcmdsetUSB_register_events2(on_event2), 0);
    const auto told = [](uint16_t port, int32_t code, const char *serial) {
        return line(port, code, "KV4 Quillon5 Monitor", serial);
    };
    ASSERT_EQ(settled(2), (heard{told(0, 1, "AAAA"), told(1, 1, "BBBB")}));
    const auto unplug_both = [&] {
        kv4sim_detach(a);
        kv4sim_detach(b);
        EXPECT_EQ(settled(2), (heard{told(0, 2, "AAAA"), told(1, 2, "BBBB")}));
    };
    const auto commands_reach = [](kv4sim_monitor *m, uint16_t port) {
        kv4sim_wire_clear(m);
        return status_on(port) == 0 && kv4sim_wire_count(m) == 2;
    };

    unplug_both();
    EXPECT_EQ(kv4sim_reattach(b, 1), 0);                                        // a path of its own
    EXPECT_EQ(kv4sim_reattach_at(a, kv4sim_path(b)), KV4SIM_INVALID_PARAMETER); // in use
    EXPECT_EQ(kv4sim_reattach(a, 1), 0);
    EXPECT_EQ(settled(2), (heard{told(1, 1, "BBBB"), told(0, 1, "AAAA")}));
    EXPECT_TRUE(commands_reach(a, 0));
    EXPECT_TRUE(commands_reach(b, 1));

    const std::string path_a = kv4sim_path(a);
    unplug_both();
    EXPECT_EQ(kv4sim_reattach_at(b, path_a.c_str()), 0);
    EXPECT_EQ(kv4sim_reattach_at(b, "elsewhere"), KV4SIM_INVALID_PARAMETER); // plugged in
    EXPECT_STREQ(kv4sim_path(b), path_a.c_str());
    EXPECT_EQ(settled(1), heard{told(0, 1, "AAAA")});
    EXPECT_TRUE(commands_reach(b, 0));
}

TEST_F(DeviceEvents, BroadcastsForAKnownPathWhateverTheCaseEventValueOrWidth)
{
    monitor = attach_serial("CASE");
    ASSERT_EQ(tkcmdsetUSB_register_events2(on_event2), 0);
    const auto told = [](int32_t code) { return line(0, code, "KV4 Quillon5 Monitor", "CASE"); };
    ASSERT_EQ(events.take(1), heard{told(1)});
    std::string shouted = kv4sim_path(monitor);
    std::transform(shouted.begin(), shouted.end(), shouted.begin(), [](unsigned char c) { return std::toupper(c); });
    kv4sim_broadcast_interface(kv4sim_path(monitor), 0x8006);         // another device-change event: ignored
    kv4sim_broadcast_interface(kv4sim_path(monitor), KV4SIM_ARRIVAL); // open already: not reported
    kv4sim_broadcast_interface(shouted.c_str(), KV4SIM_REMOVE_PENDING);
    kv4sim_broadcast_interface(kv4sim_path(monitor), KV4SIM_REMOVE_COMPLETE); // closed, still told
    kv4sim_broadcast_interface(kv4sim_path(monitor), KV4SIM_ARRIVAL);         // reopened
    EXPECT_EQ(settled(3), (heard{told(2), told(2), told(1)}));
    // A record with a wide name, as Wine sends it, names the same port.
    const std::string path = kv4sim_path(monitor);
    const std::size_t offset = offsetof(kv4::dev_broadcast_deviceinterface, name);
    std::vector<uint8_t> record(offset + 2 * (path.size() + 1));
    auto *wide = reinterpret_cast<kv4::dev_broadcast_deviceinterface *>(record.data());
    wide->size = static_cast<uint32_t>(record.size());
    wide->devicetype = kv4::dbt_devtyp_deviceinterface;
    for (std::size_t i = 0; i < path.size(); ++i)
        record[offset + 2 * i] = static_cast<uint8_t>(path[i]);
    kv4::event_window_procedure(2)(nullptr, kv4::wm_devicechange, kv4::dbt_device_remove_complete,
                                   reinterpret_cast<intptr_t>(record.data()));
    EXPECT_EQ(events.take(1), heard{told(2)});
}

TEST_F(DeviceEvents, VolumesReachVariantsTwoAndThreeWithTheirTexts)
{
    // The port and the texts variants 2 and 3 are told (arrivals with code 3, removals 4), or none for
    // silence; label: announced (arrived or left) through the bus when set, else broadcast.
    struct notice {
        uint32_t mask, event, flags, port;
        const char *label, *text2, *text3;
    } const notices[] = {
        {0x10, KV4SIM_ARRIVAL, 0, 0x10, "DATA", "E:\\", "DATA"},
        {0x10, KV4SIM_REMOVE_COMPLETE, 0, 0x10, "", "Drive E: DISCONNECTED\n", ""},
        {1u << 16, KV4SIM_ARRIVAL, 0, 0, nullptr, "Q:\\", ""},
        {0x28, KV4SIM_ARRIVAL, 0, 0x28, nullptr, "D:\\", ""},
        {1u << 26, KV4SIM_REMOVE_COMPLETE, 0, 0, nullptr, "Drive [: DISCONNECTED\n", ""},
        {0x10, KV4SIM_ARRIVAL, 0x0001, 0, nullptr, nullptr, nullptr}, // a medium changed
        {0x10, KV4SIM_ARRIVAL, 0x0002, 0, nullptr, nullptr, nullptr}, // a network volume
        {0x10, KV4SIM_REMOVE_PENDING, 0, 0, nullptr, nullptr, nullptr},
    };
    for (int variant = 1; variant <= 3; ++variant) {
        ASSERT_EQ(variant == 1   ? tkcmdsetUSB_register_events(on_event1)
                  : variant == 2 ? tkcmdsetUSB_register_events2(on_event2)
                                 : tkcmdsetUSB_register_events3(on_event3),
                  0);
        for (const notice &n : notices) {
            SCOPED_TRACE(std::to_string(variant) + ": mask " + std::to_string(n.mask));
            if (n.label)
                kv4sim_announce_volume(n.mask, n.event == KV4SIM_ARRIVAL, n.flags, n.label);
            else
                kv4sim_broadcast_volume(n.mask, n.event, n.flags);
            const int32_t code = n.event == KV4SIM_ARRIVAL ? 3 : 4;
            const heard told = !n.text2       ? heard{}
                               : variant == 2 ? heard{line(n.port, code, n.text2)}
                                              : heard{line(n.port, code, n.text3, nullptr, 0)};
            if (variant != 1) { // variant 1 is never told of volumes: nothing is left when it ends
                EXPECT_EQ(settled(told.size()), told);
            }
        }
        EXPECT_EQ(unregister[variant - 1](), 0);
        EXPECT_TRUE(events.take(0).empty());
    }
}

// A host that pumps messages in its callback (a MessageBox saying "Monitor disconnected") while
// the monitor is plugged in again: the arrival is handled after the removal's callback returned,
// so the port the arrival opened stays open.
TEST_F(DeviceEvents, ABroadcastDuringACallbackIsHandledAfterIt)
{
    static kv4sim_monitor *returning = nullptr;
    returning = monitor = attach();
    ASSERT_EQ(tkcmdsetUSB_register_events([](uint16_t port, int32_t code) {
                  on_event1(port, code);
                  if (code == TKUSB_EVENT_DEVICE_DISCONNECTED) {
                      kv4sim_reattach(returning, 0); // its arrival is sent on this thread
                      events.add("returned");
                  }
              }),
              0);
    EXPECT_EQ(events.take(1), heard{line(0, 1)});
    kv4sim_detach(monitor);
    EXPECT_EQ(events.take(3), (heard{line(0, 2), "returned", line(0, 1)}));
    EXPECT_TRUE(port_open(0));
}

TEST_F(DeviceEvents, UnregisteringFromTheCallbackTimesOutAndTheThreadStillEnds)
{
    static int16_t from_callback = 0;
    ASSERT_EQ(tkcmdsetUSB_register_events([](uint16_t port, int32_t code) {
                  from_callback = tkcmdsetUSB_unregister_events();
                  on_event1(port, code);
              }),
              0);
    attach();
    EXPECT_EQ(events.take(1), heard{line(0, 1)});
    EXPECT_EQ(from_callback, TKUSB_EVENT_TIMEOUT_ERR);
    EXPECT_EQ(tkcmdsetUSB_unregister_events(), TKUSB_EVENT_REGISTER_ERR);
    // Once the old thread has ended, its window class is free for a new registration.
    EXPECT_TRUE(eventually([] { return tkcmdsetUSB_register_events2(on_event2) == 0; }, 10000));
}

#ifdef _WIN32
// A host registering from DllMain holds the loader lock, which a new thread needs before it runs:
// registering gives up instead of waiting for good, and leaves nothing registered behind.
TEST_F(DeviceEvents, ARegistrationUnderTheLoaderLockGivesUpAndLeavesNothingBehind)
{
    const auto ntdll = [](const char *name) {
        return reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("ntdll.dll"), name));
    };
    const auto lock =
        reinterpret_cast<long(__stdcall *)(unsigned long, void *, uintptr_t *)>(ntdll("LdrLockLoaderLock"));
    const auto unlock = reinterpret_cast<long(__stdcall *)(unsigned long, uintptr_t)>(ntdll("LdrUnlockLoaderLock"));
    uintptr_t cookie = 0;
    ASSERT_TRUE(lock && unlock && lock(0, nullptr, &cookie) == 0);
    const int16_t registered = tkcmdsetUSB_register_events(on_event1);
    unlock(0, cookie);
    EXPECT_EQ(registered, TKUSB_EVENT_TIMEOUT_ERR);
    EXPECT_EQ(tkcmdsetUSB_unregister_events(), TKUSB_EVENT_REGISTER_ERR);
    attach();
    ASSERT_EQ(tkcmdsetUSB_register_events(on_event1), 0); // the late thread took no window
    EXPECT_EQ(events.take(1), heard{line(0, 1)});
}
#endif

// Monitors plugged and pulled one after another while host threads run commands and asynchronous
// exchanges on every port: each arrival and removal is reported once, with its port.
TEST_F(DeviceEvents, PlugStormsDuringCommandsAndExchanges)
{
    constexpr int monitor_count = 6;
    static std::atomic<int> accepted{0}, completed{0};
    const std::vector<kv4sim_monitor *> monitors = attach_found("STORM", monitor_count);
    ASSERT_EQ(
        tkcmdsetUSB_register_asyncio([](uint16_t, const uint8_t *, uint16_t, int16_t, int16_t) { ++completed; }, 200),
        0);
    ASSERT_EQ(tkcmdsetUSB_register_events(on_event1), 0);
    std::atomic<bool> storming{true};
    std::vector<std::thread> hosts;
    for (int h = 0; h < 2; ++h)
        hosts.emplace_back([&, h] {
            for (std::mt19937 random(h); storming.load();) {
                const auto port = static_cast<uint16_t>(random() % monitor_count);
                if (h == 0)
                    status_on(port);
                else
                    accepted += send_status(port, 1) == 0;
            }
        });
    std::mt19937 random(42);
    std::vector<bool> plugged(monitor_count, true);
    for (int i = 0; i < 300 && !HasFailure(); ++i) {
        const auto m = static_cast<uint16_t>(random() % monitor_count);
        if (plugged[m])
            kv4sim_detach(monitors[m]);
        else
            kv4sim_reattach(monitors[m], static_cast<int>(random() % 2));
        plugged[m] = !plugged[m];
        ASSERT_EQ(events.take(1), heard{line(m, plugged[m] ? 1 : 2)});
    }
    storming = false;
    for (std::thread &host : hosts)
        host.join();
    tkcmdsetUSB_shutdown_all(); // while both threads still run: they must not touch what it frees
    EXPECT_EQ(tkcmdsetUSB_unregister_events(), 0);
    eventually([] { return completed.load() >= accepted.load(); }, 5000);
    EXPECT_EQ(tkcmdsetUSB_unregister_asyncio(), 0);
    EXPECT_EQ(completed.load(), accepted.load());
    EXPECT_TRUE(events.take(0).empty());
}

} // namespace
} // namespace kv4test
