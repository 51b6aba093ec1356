// One simulated monitor on the bus: what it looks like, its bus state, its input queue and wire
// log, and its command handling with the host's responder.
#pragma once

#include "kv4usbcp_sim.h"
#include "platform/sim/device.h"
#include "platform/sim/handle.h"
#include "platform/sim/input_queue.h"

#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kv4::sim {

// What a monitor looks like; fixed when it is made.
struct identity {
    std::u16string product, serial, fw_version, hw_version, loader_version;
    uint16_t product_id = 1;
    std::vector<kv4sim_value_cap> caps;
};

// The byte length of the largest report of a type (KV4SIM_INPUT, ...) with its report ID, as the
// HID parser reports it; 0 when the layout has none.
std::size_t report_bytes(const std::vector<kv4sim_value_cap> &caps, uint8_t type) noexcept;

// False for a description that no monitor can have; a null description is good.
bool valid_description(const kv4sim_monitor_desc *desc) noexcept;
// The identity of a valid description, with defaults for what it leaves out; number is the attach
// count that names the default serial.
identity make_identity(const kv4sim_monitor_desc *desc, unsigned number);

struct wire_record {
    int kind;
    std::vector<uint8_t> bytes;
};

class monitor : public std::enable_shared_from_this<monitor> {
  public:
    explicit monitor(identity identity_);

    const identity id;
    // Windows refuses longer writes and shorter reads.
    const std::size_t output_bytes, input_bytes;

    // ---- Bus state, guarded by the bus lock --------------------------------------------------
    std::list<std::string> paths; // every path it had, the current one last; handed-out texts stay
    bool attached = false;
    unsigned faults = 0; // bit per KV4SIM_FAULT_ number
    clock::duration write_latency{0}, answer_latency{0};
    bool wire_logging = true;
    std::vector<wire_record> wire;
    handle *holder = nullptr; // the one open handle
    input_queue input;

    bool fault(int number) const noexcept { return faults >> number & 1; }
    void log(int kind, const uint8_t *bytes, std::size_t length) noexcept;
    // Completes the holder's transfers that are due by now; when the next one is due.
    time_point advance(time_point now) noexcept;
    // Leaves the bus: the open handle dies, its transfers fail, unread input is lost.
    void unplug() noexcept;
    // Fails the writes that KV4SIM_FAULT_WRITE_STALLS holds.
    void fail_stalled_writes() noexcept;

    // ---- Command handling --------------------------------------------------------------------
    // The length of the frame in an output report of `length` bytes with that ID in byte 0: what
    // the report carries after its ID.
    std::size_t frame_length(uint8_t report_id, std::size_t length) const noexcept;
    // Serialises frames to the monitor; guards the answer buffer. Taken before the bus lock.
    std::mutex exchange;
    // Answers a frame (the output report's payload) into answer(); the answer's length, 0 for
    // none; scripted: the responder alone answers. Called with `exchange` held and neither the bus
    // lock nor `device_lock`.
    std::size_t respond(const uint8_t *frame, std::size_t length, bool scripted = false) noexcept;
    const uint8_t *answer() const noexcept { return answer_.data(); }

    // ---- Memories and scripted answers, guarded by device_lock ---------------------------------
    std::mutex device_lock;
    device dev;
    kv4sim_responder responder = nullptr;
    void *responder_context = nullptr;

  private:
    std::vector<uint8_t> answer_;
};

} // namespace kv4::sim
