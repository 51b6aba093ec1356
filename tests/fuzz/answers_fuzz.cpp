// libFuzzer target: a monitor that answers every frame, service commands too, with fuzz-chosen
// bytes and lengths, driven through a fuzz-chosen sequence of the exported calls. Every call must
// keep to its buffers, return a named code or one the monitor sent, and end within its time-out;
// every accepted asynchronous exchange ends in exactly one callback with consistent arguments.
#include "../support/exports.h"
#include "fuzz_support.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

using namespace kv4fuzz;

namespace {

// The monitor's answers, taken in turn from a fuzz-chosen pool (again from its start when it runs
// out). Silence costs a whole time-out, so it is chosen only where the time-out is short.
struct script {
    std::mutex guard;
    std::vector<uint8_t> pool;
    std::size_t next = 0;
    std::atomic<bool> may_be_silent{false};
    std::set<int16_t> codes; // the codes the monitor sent, which a call passes on
    uint8_t take() { return pool.empty() ? 0 : pool[next++ % pool.size()]; }
    // A frame the monitor sends: status byte 0 carries a code in bytes 1-2, the report zero-padded;
    // a host that asks for 2 bytes gets byte 2 as zero.
    void note(const uint8_t *frame, std::size_t n)
    {
        const int high = n > 1 ? frame[1] << 8 : 0;
        codes.insert({int16_t(high | (n > 2 ? frame[2] : 0)), int16_t(high)});
    }
} answers;

std::size_t respond(void *, const uint8_t *, std::size_t, uint8_t *answer, std::size_t capacity)
{
    std::lock_guard<std::mutex> guard(answers.guard);
    std::size_t n = static_cast<std::size_t>(answers.take() << 8 | answers.take()) % (capacity + 1);
    n = n || answers.may_be_silent ? n : 1;
    for (std::size_t i = 0; i < n; ++i)
        answer[i] = answers.take();
    answers.note(answer, n);
    return n;
}

bool passed_on(int16_t code)
{
    std::lock_guard<std::mutex> guard(answers.guard);
    return named_code(code) || answers.codes.count(code);
}
void check_result(int16_t code, const char *call)
{
    if (!passed_on(code))
        std::fprintf(stderr, "%s returned %d\n", call, code), broken("a named code or the monitor's");
}

uint16_t the_port;
kv4sim_monitor *the_monitor;
// Asynchronous exchanges: how many were accepted and how many callbacks came.
std::mutex async_guard;
std::condition_variable async_ended;
unsigned accepted = 0, completed = 0;
int16_t the_tag;

void completion(uint16_t port, const uint8_t *data, uint16_t length, int16_t result, int16_t tag)
{
    check(port == the_port && tag == the_tag, "callback: port and tag of the exchange");
    check(result == 0 ? data && length <= 128 : !data && length == 0 && passed_on(result), "callback: result");
    volatile uint8_t sum = 0;
    for (uint16_t i = 0; i < length; ++i) // every byte handed over is readable
        sum = sum + data[i];
    std::lock_guard<std::mutex> guard(async_guard);
    ++completed;
    async_ended.notify_all();
}

using kv4test::block_commands;

// Runs call(buffer) with a host buffer of which the call may write `writable` bytes, in at most the
// library's longest wait (6 s) unless limit_ms says otherwise.
template <class Call> void into(std::size_t writable, const char *name, Call call, unsigned long limit_ms = 6000)
{
    guarded_buffer out(std::max<std::size_t>(writable, 4));
    const int16_t r = within(limit_ms, name, [&] { return call(out); });
    out.check_untouched(writable, name);
    check_result(r, name);
}

void transaction(FuzzedDataProvider &in, bool ddi)
{
    const std::vector<uint8_t> command = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange(0, 600));
    const uint16_t wanted = in.ConsumeIntegralInRange(0, 600), timeout = in.ConsumeIntegralInRange(0, 15);
    guarded_buffer response(std::max<uint16_t>(wanted, 3));
    answers.may_be_silent = in.ConsumeBool();
    into(
        2, "transaction: length",
        [&](guarded_buffer &length) {
            *length.as<uint16_t>() = wanted;
            const int16_t r = (ddi ? tkcmdsetUSB_do_DDIcommand : tkcmdsetUSB_do_command)(
                the_port, command.data(), uint16_t(command.size()), response.data(), length.as<uint16_t>(), timeout);
            // With fewer than 3 bytes delivered, a code comes from what the host's buffer held.
            const uint8_t *b = response.data();
            return b[0] == 0 && r == int16_t(b[1] << 8 | b[2]) ? int16_t(0) : r;
        },
        timeout);
    answers.may_be_silent = false;
    response.check_untouched(std::max<uint16_t>(wanted, 3), "transaction: response buffer");
}

void block(FuzzedDataProvider &in, const kv4test::block_command &b)
{
    const uint32_t address = in.ConsumeIntegral<uint32_t>(), count = in.ConsumeIntegralInRange(0, 600);
    const std::vector<uint8_t> sent = in.ConsumeBytes<uint8_t>(b.write ? count * b.unit : 0);
    uint16_t length = in.ConsumeIntegralInRange(0, 520);
    into(count * b.unit, "block", [&](guarded_buffer &data) {
        std::copy(sent.begin(), sent.end(), data.data());
        const int16_t r = b.run(the_port, address, data.data(), count, &length);
        check(std::equal(sent.begin(), sent.end(), data.data()), "block: written data left as it was");
        return r;
    });
}

void send(FuzzedDataProvider &in)
{
    const std::vector<uint8_t> command = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange(0, 200));
    std::unique_lock<std::mutex> lock(async_guard);
    const unsigned before = completed;
    the_tag = in.ConsumeIntegral<int16_t>();
    lock.unlock();
    const int16_t r = tkcmdsetUSB_send_command(the_port, command.data(), uint16_t(command.size()), 0, the_tag);
    check(named_code(r), "send_command: result");
    lock.lock();
    if (r == 0 && !async_ended.wait_for(lock, std::chrono::seconds(10), [&] { return completed > before; }))
        broken("send_command: no callback");
    accepted += r == 0;
}

void run(FuzzedDataProvider &in)
{
    for (int calls = 0; calls < 24 && in.remaining_bytes(); ++calls) {
        const uint32_t a = in.ConsumeIntegral<uint32_t>(), b = in.ConsumeIntegral<uint32_t>();
        uint16_t length = in.ConsumeIntegralInRange(0, 8);
        switch (in.ConsumeIntegralInRange(0, 14)) {
        case 0: transaction(in, false); break;
        case 1: transaction(in, true); break;
        case 2: {
            const std::vector<uint8_t> data = in.ConsumeBytes<uint8_t>(a % 521);
            into(0, "echo", [&](auto &) { return tkcmdsetUSB_echo(the_port, data.data(), uint16_t(data.size())); });
            break;
        }
        case 3:
            into(4, "status", [&](guarded_buffer &s) {
                const int16_t r = tkcmdsetUSB_status(the_port, s.as<uint32_t>());
                check(r == 0 || *s.as<uint32_t>() == 0, "status: 0 on failure");
                return r;
            });
            break;
        case 4:
            into(4, "special", [&](auto &v) { return tkcmdsetUSB_special(the_port, a, b, v.template as<uint32_t>()); });
            break;
        case 5: block(in, block_commands[a % std::size(block_commands)]); break;
        case 6: // the wait grows with the region: keep it short
            into(4, "image crc", [&](auto &c) {
                return tkcmdsetUSB_get_image_crc(the_port, a, c.template as<uint32_t>(), b & 0xFFFF, &length);
            });
            break;
        case 7:
            into(4, "update status", [&](auto &s) {
                return tkcmdsetUSB_get_update_status(the_port, s.template as<tkcmdsetUSB_update_status>(), &length);
            });
            break;
        case 8:
            into(8, "v3 update status", [&](auto &s) {
                return tkcmdsetUSB_get_V3_update_status(the_port, s.template as<tkcmdsetUSB_v3_update_status>(),
                                                        &length);
            });
            break;
        case 9: into(0, "feature", [&](auto &) { return tkcmdsetUSB_set_feature(the_port, uint16_t(a), 0); }); break;
        case 10:
            into(uint8_t(b), "string",
                 [&](auto &s) { return kv4test::string_queries[a % 4](the_port, s.text(), uint8_t(b)); });
            break;
        case 11: send(in); break;
        case 12: { // a frame the monitor sends unasked
            const std::vector<uint8_t> frame = in.ConsumeBytes<uint8_t>(a % 520 + 1);
            std::lock_guard<std::mutex> guard(answers.guard);
            answers.note(frame.data(), frame.size());
            kv4sim_queue_input(the_monitor, frame.data(), frame.size());
            break;
        }
        case 13: tkcmdsetUSB_reset_port(the_port); break;
        default:
            into(2, "max report size",
                 [&](auto &s) { return tkcmdsetUSB_max_report_size(the_port, s.template as<uint16_t>()); });
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    quiet_bus();
    answers.pool = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange(0, 2048));
    answers.next = 0;
    answers.codes.clear();
    the_monitor = kv4sim_attach(nullptr);
    kv4sim_set_wire_log(the_monitor, 0);
    kv4sim_set_responder(the_monitor, respond, nullptr);
    kv4sim_set_fault(the_monitor, KV4SIM_FAULT_ANSWER_ALL, 1);
    tkcmdsetUSB_init();
    uint8_t count = 0;
    uint16_t ports[255];
    check(tkcmdsetUSB_find_devices("Quillon5", &count, ports) == 0 && count == 1, "the monitor is found");
    the_port = ports[0];
    const int16_t registered =
        in.ConsumeBool() ? tkcmdsetUSB_register_asyncio(completion, in.ConsumeIntegralInRange(1, 100)) : 1;
    check(registered >= 0, "asyncio registers");
    run(in);
    // An unregistration that timed out leaves its thread ending by itself; the input ends only once
    // it has (a new registration is refused until then), so that no thread of one input runs into
    // the next, nor into the leak check between them.
    if (registered == 0 && tkcmdsetUSB_unregister_asyncio() == TKUSB_EVENT_TIMEOUT_ERR)
        within(6000, "the unregistered thread ends", [] {
            while (tkcmdsetUSB_register_asyncio(completion, 1000) == TKUSB_EVENT_REGISTER_ERR)
                std::this_thread::yield();
            return tkcmdsetUSB_unregister_asyncio();
        });
    check(completed == accepted, "one callback per accepted exchange");
    tkcmdsetUSB_shutdown_all();
    return 0;
}
