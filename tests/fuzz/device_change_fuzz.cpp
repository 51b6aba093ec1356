// libFuzzer target: the notification window's procedure, the code that takes WM_DEVICECHANGE
// records apart on every platform, fed fuzz-chosen wParams and records of exactly the size the
// record declares (dbch_size), which is all that a system copying the record hands over: the
// procedure may read nothing past it. Events reaching the host must carry consistent arguments.
#include "events/events.h"
#include "fuzz_support.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>

using namespace kv4fuzz;

namespace {

void check_text(const char *text) { check(text && std::memchr(text, 0, 225), "event: a terminated text"); }

void volume(uint16_t, int32_t event, const char *text)
{
    check(event == TKUSB_EVENT_VOLUME_ARRIVED || event == TKUSB_EVENT_VOLUME_REMOVED, "event: a volume code");
    check_text(text);
}
void event2(uint16_t port, int32_t event, const char *text, const char *) { volume(port, event, text); }
void event3(uint16_t port, int32_t event, const char *text, const char *, uint16_t) { volume(port, event, text); }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool started = [] {
        quiet_bus();
        kv4::event_registration().callback2 = event2;
        kv4::event_registration().callback3 = event3;
        // A known monitor, so that a record's path is compared with a registered one.
        uint8_t count = 0;
        uint16_t ports[255];
        std::atexit([] { tkcmdsetUSB_shutdown_all(); });
        return kv4sim_attach(nullptr) && tkcmdsetUSB_init() == 0 &&
               tkcmdsetUSB_find_devices("Quillon5", &count, ports) == 0 && count == 1;
    }();
    check(started, "the library starts");
    FuzzedDataProvider in(data, size);
    const int variant = in.ConsumeIntegralInRange(1, 3);
    const uintptr_t events[] = {kv4::dbt_device_arrival, kv4::dbt_device_remove_pending,
                                kv4::dbt_device_remove_complete, in.ConsumeIntegral<uint16_t>()};
    const uintptr_t wparam = events[in.ConsumeIntegralInRange(0, 3)];
    // The record: its declared size first (at least those 4 bytes are there), then its bytes.
    const uint32_t declared = in.ConsumeIntegralInRange<uint32_t>(0, 2048);
    std::vector<uint8_t> record = in.ConsumeBytes<uint8_t>(std::max<uint32_t>(declared, 4));
    record.resize(std::max<uint32_t>(declared, 4));
    std::memcpy(record.data(), &declared, 4);
    kv4::event_window_procedure(variant)(nullptr, kv4::wm_devicechange, wparam,
                                         reinterpret_cast<intptr_t>(record.data()));
    return 0;
}
