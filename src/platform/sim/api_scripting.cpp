// The C interface: faults, timing, answers, memories, wire log and volumes of simulated monitors.
#include "platform/sim/api.h"
#include "platform/sim/hidraw_node.h"

#include "platform/device_change.h"
#include "platform/platform.h"

using namespace kv4::sim;

namespace {

bool valid_block(const memories &memory, int r, uint32_t address, const void *buf, size_t len)
{
    return r >= 0 && r < region_count && (buf || len == 0) && memory.holds(static_cast<region>(r), address, len);
}

} // namespace

extern "C" {

KV4SIM_API int kv4sim_set_fault(kv4sim_monitor *m, int fault, int on)
{
    return guarded([&]() -> int {
        if (fault < KV4SIM_FAULT_REFUSE_WRITE || fault > KV4SIM_FAULT_ANSWER_ALL)
            return KV4SIM_INVALID_PARAMETER;
        return on_bus(m, [=](monitor &found) {
            found.faults = on ? found.faults | 1u << fault : found.faults & ~(1u << fault);
            if (fault == KV4SIM_FAULT_CANCEL_STUCK && !on)
                the_bus().release_stuck(found);
            if (fault == KV4SIM_FAULT_WRITE_STALLS && !on)
                found.fail_stalled_writes();
            return 0;
        });
    });
}

KV4SIM_API int kv4sim_set_rule(int rule, int on)
{
    return guarded([&] {
        // Both rules are kept off Windows only, as the socket pairs of the hidraw nodes are.
        if ((rule != KV4SIM_RULE_READ_BY_WAITER && rule != KV4SIM_RULE_REFUSE_PLUG_EVENTS) || !nodes_available())
            return KV4SIM_INVALID_PARAMETER;
        std::lock_guard<std::mutex> guard(the_bus().mutex);
        (rule == KV4SIM_RULE_READ_BY_WAITER ? the_bus().reads_by_waiter : the_bus().plug_events_refused) = on != 0;
        return 0;
    });
}

KV4SIM_API int kv4sim_set_latency_us(kv4sim_monitor *m, unsigned write_us, unsigned answer_us)
{
    return guarded([&] {
        return on_bus(m, [=](monitor &found) {
            found.write_latency = std::chrono::microseconds(write_us);
            found.answer_latency = std::chrono::microseconds(answer_us);
            return 0;
        });
    });
}

KV4SIM_API int kv4sim_set_status_word(kv4sim_monitor *m, uint32_t word)
{
    return guarded([&] {
        return on_device(m, [=](device &d, monitor &) {
            d.status_word = word;
            return 0;
        });
    });
}

KV4SIM_API int kv4sim_set_update_status(kv4sim_monitor *m, uint16_t first, uint16_t second)
{
    return guarded([&] {
        return on_device(m, [=](device &d, monitor &) {
            d.update_first = first;
            d.update_second = second;
            return 0;
        });
    });
}

KV4SIM_API int kv4sim_set_v3_update_status(kv4sim_monitor *m, uint32_t first, uint16_t second)
{
    return guarded([&] {
        return on_device(m, [=](device &d, monitor &) {
            d.v3_update_first = first;
            d.v3_update_second = second;
            return 0;
        });
    });
}

KV4SIM_API int kv4sim_read_memory(kv4sim_monitor *m, int r, uint32_t address, void *buf, size_t len)
{
    return guarded([&] {
        return on_device(m, [=](device &d, monitor &) {
            if (!valid_block(d.memory, r, address, buf, len))
                return KV4SIM_INVALID_PARAMETER;
            d.memory.read(static_cast<region>(r), address, static_cast<uint8_t *>(buf), len);
            return 0;
        });
    });
}

KV4SIM_API int kv4sim_write_memory(kv4sim_monitor *m, int r, uint32_t address, const void *buf, size_t len)
{
    return guarded([&] {
        return on_device(m, [=](device &d, monitor &) {
            if (!valid_block(d.memory, r, address, buf, len))
                return KV4SIM_INVALID_PARAMETER;
            d.memory.write(static_cast<region>(r), address, static_cast<const uint8_t *>(buf), len);
            return 0;
        });
    });
}

KV4SIM_API int kv4sim_set_responder(kv4sim_monitor *m, kv4sim_responder responder, void *context)
{
    return guarded([&] {
        return on_device(m, [=](device &, monitor &found) {
            found.responder = responder;
            found.responder_context = context;
            return 0;
        });
    });
}

KV4SIM_API int kv4sim_queue_input(kv4sim_monitor *m, const void *frame, size_t length)
{
    return guarded([&]() -> int {
        if (!frame && length)
            return KV4SIM_INVALID_PARAMETER;
        return on_bus(m, [=](monitor &found) {
            const uint8_t *report;
            std::size_t report_length;
            if (!found.attached || !found.input.push(static_cast<const uint8_t *>(frame), length, at_once, &report,
                                                     &report_length))
                return KV4SIM_INVALID_PARAMETER;
            found.log(KV4SIM_WIRE_INPUT, report, report_length);
            found.advance(at_once); // a read already waiting takes it
            return 0;
        });
    });
}

KV4SIM_API size_t kv4sim_wire_count(const kv4sim_monitor *m)
{
    return guarded([&]() -> size_t {
        std::lock_guard<std::mutex> guard(the_bus().mutex);
        const std::shared_ptr<monitor> found = the_bus().find(m);
        return found ? found->wire.size() : 0;
    });
}

KV4SIM_API int kv4sim_wire_get(const kv4sim_monitor *m, size_t i, kv4sim_wire_entry *out)
{
    return guarded([&] {
        return on_bus(m, [=](monitor &found) {
            if (!out || i >= found.wire.size())
                return KV4SIM_INVALID_PARAMETER;
            *out = {found.wire[i].kind, found.wire[i].bytes.data(), found.wire[i].bytes.size()};
            return 0;
        });
    });
}

KV4SIM_API void kv4sim_wire_clear(kv4sim_monitor *m)
{
    guarded([&] {
        on_bus(m, [](monitor &found) {
            found.wire.clear();
            return 0;
        });
    });
}

KV4SIM_API int kv4sim_set_wire_log(kv4sim_monitor *m, int on)
{
    return guarded([&] {
        return on_bus(m, [=](monitor &found) {
            found.wire_logging = on != 0;
            return 0;
        });
    });
}

KV4SIM_API int kv4sim_announce_volume(uint32_t unitmask, int arrived, uint16_t flags, const char *label)
{
    return guarded([&]() -> int {
        if (unitmask == 0 || unitmask >> 26)
            return KV4SIM_INVALID_PARAMETER;
        bus &b = the_bus();
        {
            std::lock_guard<std::mutex> guard(b.mutex);
            b.announce_volume(unitmask, arrived != 0, flags, label);
        }
        b.deliver();
        return 0;
    });
}

KV4SIM_API int kv4sim_broadcast_interface(const char *path, uint32_t event)
{
    return guarded([&]() -> int {
        if (!path)
            return KV4SIM_INVALID_PARAMETER;
        kv4::broadcast_interface(path, event);
        return 0;
    });
}

KV4SIM_API int kv4sim_broadcast_volume(uint32_t unitmask, uint32_t event, uint16_t flags)
{
    return guarded([&]() -> int {
        kv4::broadcast_volume(unitmask, event, flags);
        return 0;
    });
}

KV4SIM_API int kv4sim_set_debug_sink(kv4sim_debug_sink sink, void *context)
{
    return guarded([&]() -> int {
        kv4::set_debug_sink(sink, sink ? context : nullptr);
        return 0;
    });
}

} // extern "C"
