// libFuzzer target: a monitor that describes itself as fuzz input says: any report layout (counts,
// IDs, sizes up to 65535, shared usages, directions missing) and any strings (invalid UTF-8, lone
// surrogates, NULs in the middle, at and past every length limit). Its arrival and removal are
// heard by a variant-2 or -3 callback, and it is found, identified and used once. Same promises as
// for answers: buffers kept, results named, time-outs kept, callback arguments consistent.
#include "../support/exports.h"
#include "fuzz_support.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <string>

using namespace kv4fuzz;

namespace {

uint16_t product_id;

void device_event(uint16_t port, int32_t event, const char *product, const char *serial, uint16_t id)
{
    check(port == 0 && (event == TKUSB_EVENT_DEVICE_CONNECTED || event == TKUSB_EVENT_DEVICE_DISCONNECTED),
          "event: the one port, connected or disconnected");
    check(product && serial && std::memchr(product, 0, 256) && std::memchr(serial, 0, 256), "event: terminated texts");
    check(id == product_id, "event: the product ID");
}
void event2(uint16_t port, int32_t event, const char *product, const char *serial)
{
    device_event(port, event, product, serial, product_id);
}

void use(FuzzedDataProvider &in, uint16_t port)
{
    guarded_buffer size(2);
    check(named_code(tkcmdsetUSB_max_report_size(port, size.as<uint16_t>())), "max report size: result");
    size.check_untouched(2, "max report size");
    check(*size.as<uint16_t>() <= 500, "max report size: at most 500");
    for (auto fetch : kv4test::string_queries) {
        const uint8_t length = in.ConsumeIntegral<uint8_t>();
        guarded_buffer text(length);
        check(named_code(within(6000, "string", [&] { return fetch(port, text.text(), length); })), "string: result");
        text.check_untouched(length, "string: the buffer");
    }
    const std::vector<uint8_t> command = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange(1, 600));
    const uint16_t wanted = in.ConsumeIntegralInRange(0, 600);
    guarded_buffer response(std::max<uint16_t>(wanted, 3));
    uint16_t length = wanted;
    const int16_t r = within(1000, "transaction", [&] {
        return tkcmdsetUSB_do_command(port, command.data(), uint16_t(command.size()), response.data(), &length, 1000);
    });
    response.check_untouched(std::max<uint16_t>(wanted, 3), "transaction: the response buffer");
    const uint8_t *b = response.data(); // the simulated monitor answers only with codes of the table
    check(named_code(r) || (b[0] == 0 && r == int16_t(b[1] << 8 | b[2])), "transaction: result");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    quiet_bus();
    std::vector<kv4sim_value_cap> caps(in.ConsumeIntegralInRange(0, 10));
    for (kv4sim_value_cap &cap : caps)
        cap = {in.ConsumeIntegralInRange<uint8_t>(0, 2), in.ConsumeIntegral<uint16_t>(), in.ConsumeIntegral<uint8_t>(),
               in.ConsumeIntegral<uint16_t>()};
    std::string texts[5];
    for (std::string &text : texts)
        text = (in.ConsumeBool() ? "Quillon5" : "") + in.ConsumeRandomLengthString(400);
    kv4sim_monitor_desc desc{texts[0].c_str(), texts[1].c_str(), in.ConsumeIntegral<uint16_t>(),
                             texts[2].c_str(), texts[3].c_str(), texts[4].c_str(),
                             caps.data(),      caps.size()};
    product_id = desc.product_id ? desc.product_id : 1;
    tkcmdsetUSB_init();
    const bool variant3 = in.ConsumeBool();
    const int16_t registered =
        variant3 ? tkcmdsetUSB_register_events3(device_event) : tkcmdsetUSB_register_events2(event2);
    check(registered == 0 || registered == TKUSB_EVENT_REGISTER_ERR, "events register"); // the last may still end
    if (kv4sim_monitor *m = kv4sim_attach(&desc)) {
        guarded_buffer ports(255 * 2);
        uint8_t count = 0;
        check(named_code(tkcmdsetUSB_find_devices("Quillon5", &count, ports.as<uint16_t>())), "find: result");
        ports.check_untouched(count * 2, "find: the ports");
        check(count <= 1, "find: the one monitor at most");
        if (count)
            use(in, ports.as<uint16_t>()[0]);
        kv4sim_detach(m);
    }
    if (registered == 0)
        variant3 ? tkcmdsetUSB_unregister_events3() : tkcmdsetUSB_unregister_events2();
    tkcmdsetUSB_shutdown_all();
    return 0;
}
