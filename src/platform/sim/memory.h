// The simulated monitor's memories and the CRC its image check computes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kv4::sim {

// Numbered as the region constants of kv4usbcp_sim.h.
enum class region : int { flash = 0, spi_flash = 1, ram = 2, eeprom = 3 };
constexpr int region_count = 4;

// The four memories of one monitor, zero when made. Addresses are in bytes.
class memories {
  public:
    memories();

    // True when [address, address + length) lies inside the region.
    bool holds(region r, uint64_t address, uint64_t length) const noexcept;
    // Both require holds(r, address, length).
    void read(region r, uint32_t address, uint8_t *out, std::size_t length) const noexcept;
    void write(region r, uint32_t address, const uint8_t *in, std::size_t length) noexcept;

    const std::vector<uint8_t> &bytes(region r) const noexcept { return regions_[static_cast<int>(r)]; }

  private:
    std::vector<uint8_t> regions_[region_count];
};

// CRC-32 with the zlib polynomial (reflected 0xEDB88320, initial and final inversion).
uint32_t crc32(const uint8_t *data, std::size_t length) noexcept;

} // namespace kv4::sim
