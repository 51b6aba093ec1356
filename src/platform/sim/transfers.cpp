// Reports crossing the simulated bus. A write hands the frame to the monitor at once; the write's
// completion and the answer's arrival are immediate or, with latencies, come from the bus timer.
// Without latencies and wire log an exchange allocates nothing.
#include "platform/sim/bus.h"
#include "platform/sim/hidraw_node.h"
#include "platform/sim/services.h"

#include <algorithm>

namespace kv4::sim {

namespace {

constexpr uint32_t error_gen_failure = 31;          // the device refused
constexpr uint32_t error_invalid_user_buffer = 1784; // the length does not suit the reports
constexpr uint32_t error_not_connected = 1167;       // the device has left

// Refused at once: the record's status word stays pending, as kernel32 left it, but the record is
// not the bus's. Only the core's own bookkeeping knows that the transfer failed.
hid_io refuse(handle &h, uint32_t error)
{
    h.last_error = error;
    return hid_io::failed;
}

// Why a transfer cannot start, as the system would say it; 0 when it can.
uint32_t transfer_error(const handle &h, uint16_t length, bool read)
{
    if (!h.owner)
        return error_not_connected;
    if (h.access != hid_access::transfer)
        return error_gen_failure;
    if (read ? length < h.owner->input_bytes || length == 0 : length > h.owner->output_bytes || length == 0)
        return error_invalid_user_buffer;
    return h.owner->fault(read ? KV4SIM_FAULT_REFUSE_READ : KV4SIM_FAULT_REFUSE_WRITE) ? error_gen_failure : 0;
}

// A record whose transfer is still pending belongs to the system: starting another transfer on
// it is an error of the caller's. It is counted, and the record is left alone. A record whose
// status says pending only because its last start was refused is free.
bool reused_while_pending(hid_transfer *t)
{
    if (!state_of(t).owned)
        return false;
    ++the_bus().record_reuses;
    return true;
}

hid_io unplug_mid_write(std::unique_lock<std::mutex> &lock, handle &h, hid_transfer *t, const uint8_t *buffer,
                        uint16_t length)
{
    monitor &m = *h.owner;
    m.faults &= ~(1u << KV4SIM_FAULT_UNPLUG_ON_WRITE);
    m.log(KV4SIM_WIRE_OUTPUT, buffer, length);
    h.add(t);
    the_bus().unplug(m); // fails the write and signals its event
    lock.unlock();
    the_bus().deliver();
    return hid_io::pending;
}

// Logs the write, queues the answer and completes the write or leaves it to the timer (lock held).
hid_io complete_write(monitor &m, handle &h, hid_transfer *t, const uint8_t *buffer, uint16_t length,
                      std::size_t answer_length)
{
    m.log(KV4SIM_WIRE_OUTPUT, buffer, length);
    const bool late = m.write_latency.count() || m.answer_latency.count();
    const time_point now = late ? clock::now() : at_once;
    const time_point written = m.write_latency.count() ? now + m.write_latency : at_once;
    const time_point answered = late ? now + m.write_latency + m.answer_latency : at_once;
    const uint8_t *report;
    std::size_t report_length;
    if (answer_length && m.input.push(m.answer(), answer_length, answered, &report, &report_length))
        m.log(KV4SIM_WIRE_INPUT, report, report_length);
    if (late)
        the_bus().wake_timer();
    if (written != at_once) {
        state_of(t).due = written;
        h.add(t);
        return hid_io::pending;
    }
    state_of(t).outcome = hid_io::completed;
    event_set(t->event);
    m.advance(at_once); // a read already waiting takes the answer
    return hid_io::completed;
}

} // namespace

hid_io services::platform_start_write(hid_handle hh, const uint8_t *buffer, uint16_t length, hid_transfer *t)
{
    handle &h = *sim::as_sim(hh);
    bus &b = the_bus();
    std::shared_ptr<monitor> m;
    bool answers, scripted;
    {
        std::unique_lock<std::mutex> lock(b.mutex);
        if (reused_while_pending(t))
            return hid_io::failed;
        event_reset(t->event);
        start_state(t);
        if (const uint32_t error = transfer_error(h, length, false))
            return refuse(h, error);
        if (h.owner->fault(KV4SIM_FAULT_UNPLUG_ON_WRITE))
            return unplug_mid_write(lock, h, t, buffer, length);
        if (h.owner->fault(KV4SIM_FAULT_WRITE_STALLS)) { // pending until cancelled or the fault clears
            state_of(t).due = time_point::max();
            h.add(t);
            return hid_io::pending;
        }
        m = h.owner->shared_from_this();
        answers = !m->fault(KV4SIM_FAULT_NO_ANSWER);
        scripted = m->fault(KV4SIM_FAULT_ANSWER_ALL);
    }
    // The monitor works outside the bus lock, so that a responder may drive the simulator.
    std::lock_guard<std::mutex> exchange(m->exchange);
    const std::size_t answer_length =
        answers ? m->respond(buffer + 1, m->frame_length(buffer[0], length), scripted) : 0;
    std::lock_guard<std::mutex> guard(b.mutex);
    if (h.owner != m.get()) // it left the bus meanwhile
        return refuse(h, error_not_connected);
    return complete_write(*m, h, t, buffer, length, answer_length);
}

hid_io services::platform_start_read(hid_handle hh, uint8_t *buffer, uint16_t length, hid_transfer *t)
{
    handle &h = *sim::as_sim(hh);
    std::lock_guard<std::mutex> guard(the_bus().mutex);
    if (reused_while_pending(t))
        return hid_io::failed;
    event_reset(t->event);
    transfer_state &state = start_state(t);
    if (const uint32_t error = transfer_error(h, length, true))
        return refuse(h, error);
    if (h.node)
        return start_node_read(*h.node, buffer, length, t);
    if (h.owner->input.pop_arrived(clock::now(), buffer, length)) {
        state.outcome = hid_io::completed;
        event_set(t->event);
        return hid_io::completed;
    }
    state.read = true;
    state.buffer = buffer;
    state.length = length;
    h.add(t);
    return hid_io::pending;
}

hid_io services::platform_outcome(hid_transfer *t)
{
    std::lock_guard<std::mutex> guard(the_bus().mutex);
    return state_of(t).outcome;
}

void services::cancel_transfer(hid_handle hh, hid_transfer *t)
{
    std::lock_guard<std::mutex> guard(the_bus().mutex);
    the_bus().cancel(*sim::as_sim(hh), t);
    if (handle *h = sim::as_sim(hh); h->node)
        cancel_node_read(*h->node, t);
}

void services::cancel_io(hid_handle hh)
{
    handle &h = *sim::as_sim(hh);
    std::lock_guard<std::mutex> guard(the_bus().mutex);
    while (h.pending)
        the_bus().cancel(h, h.pending);
    if (h.node)
        cancel_node_reads(*h.node);
}

bool services::flush_input(hid_handle hh)
{
    handle &h = *sim::as_sim(hh);
    std::lock_guard<std::mutex> guard(the_bus().mutex);
    if (!h.owner)
        return false;
    h.owner->input.drop_arrived(clock::now());
    if (h.node)
        drain_node(*h.node);
    return true;
}

bool services::set_feature(hid_handle hh, const uint8_t *buffer, uint16_t length)
{
    handle &h = *sim::as_sim(hh);
    std::lock_guard<std::mutex> guard(the_bus().mutex);
    if (!h.owner || !buffer || length == 0 || h.owner->fault(KV4SIM_FAULT_REFUSE_FEATURE))
        return false;
    h.owner->log(KV4SIM_WIRE_FEATURE, buffer, length);
    return true;
}

} // namespace kv4::sim
