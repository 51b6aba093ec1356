// Reports crossing the simulated bus. A write hands the frame to the monitor at once; the write's
// completion and the answer's arrival are immediate or, with latencies, come from the bus timer.
// Without latencies and wire log an exchange allocates nothing.
#include "platform/sim/bus.h"
#include "platform/sim/services.h"

#include <algorithm>

namespace kv4::sim {

namespace {

hid_io refuse(hid_transfer *t)
{
    state_of(t).outcome = hid_io::failed;
    return hid_io::failed;
}

bool can_transfer(const handle &h, uint16_t length)
{
    return h.owner && h.access == hid_access::transfer && length > 0;
}

// The frame is what the output report named in byte 0 carries after its ID.
std::size_t frame_length(const std::vector<kv4sim_value_cap> &caps, uint8_t report_id, std::size_t length)
{
    std::size_t size = 0;
    bool known = false;
    for (const kv4sim_value_cap &cap : caps)
        if (cap.type == KV4SIM_OUTPUT && cap.report_id == report_id) {
            size = std::max<std::size_t>(size, cap.report_count);
            known = true;
        }
    return known ? std::min(size, length - 1) : length - 1;
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
    event_set(t->event);
    m.advance(at_once); // a read already waiting takes the answer
    return hid_io::completed;
}

} // namespace

hid_io services::start_write(hid_handle hh, const uint8_t *buffer, uint16_t length, hid_transfer *t)
{
    event_reset(t->event);
    handle &h = *sim::as_sim(hh);
    bus &b = the_bus();
    std::shared_ptr<monitor> m;
    bool answers;
    {
        std::unique_lock<std::mutex> lock(b.mutex);
        h.remove(t); // a record reused while its last transfer was still under way
        start_state(t);
        if (!can_transfer(h, length) || h.owner->fault(KV4SIM_FAULT_REFUSE_WRITE))
            return refuse(t);
        if (h.owner->fault(KV4SIM_FAULT_UNPLUG_ON_WRITE))
            return unplug_mid_write(lock, h, t, buffer, length);
        m = h.owner->shared_from_this();
        answers = !m->fault(KV4SIM_FAULT_NO_ANSWER);
    }
    // The monitor works outside the bus lock, so that a responder may drive the simulator.
    std::lock_guard<std::mutex> exchange(m->exchange);
    const std::size_t answer_length = answers ? m->respond(buffer + 1, frame_length(m->id.caps, buffer[0], length)) : 0;
    std::lock_guard<std::mutex> guard(b.mutex);
    if (h.owner != m.get()) // it left the bus meanwhile
        return refuse(t);
    return complete_write(*m, h, t, buffer, length, answer_length);
}

hid_io services::start_read(hid_handle hh, uint8_t *buffer, uint16_t length, hid_transfer *t)
{
    event_reset(t->event);
    handle &h = *sim::as_sim(hh);
    std::lock_guard<std::mutex> guard(the_bus().mutex);
    h.remove(t);
    transfer_state &state = start_state(t);
    if (!can_transfer(h, length) || h.owner->fault(KV4SIM_FAULT_REFUSE_READ))
        return refuse(t);
    if (h.owner->input.pop_arrived(clock::now(), buffer, length)) {
        event_set(t->event);
        return hid_io::completed;
    }
    state.read = true;
    state.buffer = buffer;
    state.length = length;
    h.add(t);
    return hid_io::pending;
}

hid_io services::outcome(hid_handle, hid_transfer *t)
{
    std::lock_guard<std::mutex> guard(the_bus().mutex);
    return state_of(t).outcome;
}

void services::cancel_io(hid_handle hh)
{
    handle &h = *sim::as_sim(hh);
    std::lock_guard<std::mutex> guard(the_bus().mutex);
    bool writing = false;
    for (hid_transfer *t = h.pending; t; t = state_of(t).next)
        writing |= !state_of(t).read;
    // The frame of a cancelled write counts as lost on the way: no answer to it arrives.
    if (writing && h.owner)
        h.owner->input.drop_unarrived(clock::now());
    h.fail_all();
}

bool services::flush_input(hid_handle hh)
{
    handle &h = *sim::as_sim(hh);
    std::lock_guard<std::mutex> guard(the_bus().mutex);
    if (!h.owner)
        return false;
    h.owner->input.drop_arrived(clock::now());
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
