// Memory regions and CRC-32 of the simulated monitor.
#include "platform/sim/memory.h"

#include <array>
#include <cstring>

namespace kv4::sim {

namespace {

constexpr std::size_t region_sizes[region_count] = {
    1u << 20,  // flash
    2u << 20,  // SPI flash
    64u << 10, // RAM
    8u << 10,  // EEPROM
};

constexpr std::array<uint32_t, 256> make_crc_table()
{
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}

constexpr std::array<uint32_t, 256> crc_table = make_crc_table();

} // namespace

memories::memories()
{
    for (int i = 0; i < region_count; ++i)
        regions_[i].assign(region_sizes[i], 0);
}

bool memories::holds(region r, uint64_t address, uint64_t length) const noexcept
{
    const uint64_t size = regions_[static_cast<int>(r)].size();
    return address <= size && length <= size - address;
}

void memories::read(region r, uint32_t address, uint8_t *out, std::size_t length) const noexcept
{
    if (length)
        std::memcpy(out, regions_[static_cast<int>(r)].data() + address, length);
}

void memories::write(region r, uint32_t address, const uint8_t *in, std::size_t length) noexcept
{
    if (length)
        std::memcpy(regions_[static_cast<int>(r)].data() + address, in, length);
}

uint32_t crc32(const uint8_t *data, std::size_t length) noexcept
{
    uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < length; ++i)
        c = crc_table[(c ^ data[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

} // namespace kv4::sim
