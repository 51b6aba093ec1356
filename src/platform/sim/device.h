// The simulated monitor's command handling: frames in, answers out, over its own memories. It knows
// nothing of the bus, so it can be driven and checked directly; the caller serialises its use.
#pragma once

#include "platform/sim/memory.h"

#include <cstddef>
#include <cstdint>

namespace kv4::sim {

class device {
  public:
    // The longest answer of fixed length; answer buffers are at least this long.
    static constexpr std::size_t min_capacity = 8;

    // Answers a service command: frame is the output report's payload (command code in byte 0),
    // the answer goes to out (capacity bytes, at least min_capacity) with the status byte first,
    // and its length to *answer_length. False when the frame is no service command.
    bool answer(const uint8_t *frame, std::size_t length, uint8_t *out, std::size_t capacity,
                std::size_t *answer_length) noexcept;

    memories memory;
    uint32_t status_word = 0x01000000;
    uint16_t update_first = 0, update_second = 0;
    uint32_t v3_update_first = 0;
    uint16_t v3_update_second = 0;
};

} // namespace kv4::sim
