// Service commands of the simulated monitor. Numbers in frames and answers are big-endian.
#include "platform/sim/device.h"

#include "kv4usbcp_sim.h"

#include <cstring>
#include <initializer_list>

namespace kv4::sim {

namespace {

uint32_t get_be(const uint8_t *p, int bytes)
{
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value = value << 8 | p[i];
    return value;
}

void put_be(uint8_t *p, uint32_t value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i, value >>= 8)
        p[i] = static_cast<uint8_t>(value);
}

// Builds one answer in the caller's buffer.
class answer_writer {
  public:
    answer_writer(uint8_t *out, std::size_t capacity) : out_(out), capacity_(capacity) {}

    void refuse(int16_t code)
    {
        out_[0] = 0;
        put_be(out_ + 1, static_cast<uint16_t>(code), 2);
        length_ = 3;
    }
    // Status 1 and room for `data` bytes, which the caller fills; null (and refused) when the
    // answer would not fit.
    uint8_t *accept(std::size_t data)
    {
        if (data + 1 > capacity_) {
            refuse(KV4SIM_ERR_ANSWER_TOO_LONG);
            return nullptr;
        }
        out_[0] = 1;
        length_ = data + 1;
        return out_ + 1;
    }
    std::size_t length() const { return length_; }

  private:
    uint8_t *out_;
    std::size_t capacity_;
    std::size_t length_ = 0;
};

// A memory block command: code, address (2 or 4 bytes), count (2 bytes, in units), data if a write.
struct block_command {
    uint8_t code;
    region memory;
    bool write;
    uint8_t unit; // bytes per counted unit
    uint8_t address_bytes;
};

constexpr block_command block_commands[] = {
    {0x23, region::flash, false, 2, 4},    {0x22, region::flash, true, 2, 4},   {0x2A, region::spi_flash, false, 1, 4},
    {0x29, region::spi_flash, true, 1, 4}, {0x1F, region::ram, false, 1, 4},    {0x1E, region::ram, true, 1, 4},
    {0x1A, region::ram, true, 2, 4},       {0x25, region::eeprom, false, 1, 2}, {0x24, region::eeprom, true, 1, 2},
};

const block_command *find_block(uint8_t code)
{
    for (const block_command &c : block_commands)
        if (c.code == code)
            return &c;
    return nullptr;
}

struct field {
    uint32_t value;
    int bytes;
};

// An accepted answer made of big-endian numbers.
void accept_fields(answer_writer &w, std::initializer_list<field> fields)
{
    std::size_t size = 0;
    for (const field &f : fields)
        size += static_cast<std::size_t>(f.bytes);
    if (uint8_t *data = w.accept(size))
        for (const field &f : fields) {
            put_be(data, f.value, f.bytes);
            data += f.bytes;
        }
}

void run_block(memories &memory, const block_command &c, const uint8_t *frame, std::size_t length, answer_writer &w)
{
    const std::size_t header = 1u + c.address_bytes + 2u;
    if (length < header)
        return w.refuse(KV4SIM_ERR_SHORT_FRAME);
    const uint32_t address = get_be(frame + 1, c.address_bytes);
    const std::size_t bytes = get_be(frame + 1 + c.address_bytes, 2) * std::size_t{c.unit};
    if (!memory.holds(c.memory, address, bytes))
        return w.refuse(KV4SIM_ERR_OUT_OF_RANGE);
    if (!c.write) {
        if (uint8_t *data = w.accept(bytes))
            memory.read(c.memory, address, data, bytes);
        return;
    }
    if (length < header + bytes)
        return w.refuse(KV4SIM_ERR_SHORT_FRAME);
    memory.write(c.memory, address, frame + header, bytes);
    w.accept(0);
}

void run_image_crc(const memories &memory, const uint8_t *frame, std::size_t length, answer_writer &w)
{
    if (length < 9)
        return w.refuse(KV4SIM_ERR_SHORT_FRAME);
    const uint32_t address = get_be(frame + 1, 4);
    const uint32_t size = get_be(frame + 5, 4);
    if (!memory.holds(region::flash, address, 0))
        return w.refuse(KV4SIM_ERR_CRC_START);
    if (!memory.holds(region::flash, address, size))
        return w.refuse(KV4SIM_ERR_CRC_END);
    accept_fields(w, {{crc32(memory.bytes(region::flash).data() + address, size), 4}});
}

void run_special(const uint8_t *frame, std::size_t length, answer_writer &w)
{
    if (length < 7)
        return w.refuse(KV4SIM_ERR_SHORT_FRAME);
    accept_fields(w, {{get_be(frame + 3, 4) ^ (get_be(frame + 1, 2) * 0x00010001u), 4}});
}

} // namespace

bool device::answer(const uint8_t *frame, std::size_t length, uint8_t *out, std::size_t capacity,
                    std::size_t *answer_length) noexcept
{
    if (length == 0)
        return false;
    answer_writer w(out, capacity);
    switch (frame[0]) {
    case 10: // echo: the frame's bytes after the code
        if (uint8_t *data = w.accept(length - 1))
            std::memcpy(data, frame + 1, length - 1);
        break;
    case 12: // status: the word takes the place of status byte and data
        if (w.accept(3))
            put_be(out, status_word, 4);
        break;
    case 13: run_special(frame, length, w); break;
    case 0x2C: run_image_crc(memory, frame, length, w); break;
    case 0x2D: accept_fields(w, {{update_first, 2}, {update_second, 2}}); break;
    case 0x2E: accept_fields(w, {{v3_update_first, 4}, {v3_update_second, 2}}); break;
    default:
        const block_command *block = find_block(frame[0]);
        if (!block)
            return false;
        run_block(memory, *block, frame, length, w);
    }
    *answer_length = w.length();
    return true;
}

} // namespace kv4::sim
