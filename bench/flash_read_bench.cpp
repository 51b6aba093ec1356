// Reading 1 MiB of flash through tkcmdsetUSB_read_flashblk16, beside the same frames through
// the HID services seam alone.
#include "bare_exchange.h"
#include "sim_session.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr uint32_t flash_bytes = 1u << 20;
constexpr uint32_t block_words = 249; // 498 bytes: the largest even block a 500-byte report carries

void library_flash_read(benchmark::State &state)
{
    kv4bench::sim_session session(1, 1);
    std::vector<uint8_t> image(flash_bytes);
    for (auto _ : state) {
        for (uint32_t address = 0; address < flash_bytes; address += 2 * block_words) {
            const uint32_t words = std::min(block_words, (flash_bytes - address) / 2);
            uint16_t length = static_cast<uint16_t>(2 * words + 1);
            if (tkcmdsetUSB_read_flashblk16(0, address, image.data() + address, words, &length) != 0) {
                state.SkipWithError("read failed");
                return;
            }
        }
        benchmark::DoNotOptimize(image.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * flash_bytes);
}
BENCHMARK(library_flash_read)->Unit(benchmark::kMillisecond);

void bare_flash_read(benchmark::State &state)
{
    kv4bench::sim_session session(1, 0);
    kv4bench::bare_exchange bare(session.monitor(0));
    std::vector<uint8_t> image(flash_bytes);
    uint8_t response[512];
    for (auto _ : state) {
        for (uint32_t address = 0; address < flash_bytes; address += 2 * block_words) {
            const uint32_t words = std::min(block_words, (flash_bytes - address) / 2);
            const uint8_t frame[7] = {0x23,
                                      static_cast<uint8_t>(address >> 24),
                                      static_cast<uint8_t>(address >> 16),
                                      static_cast<uint8_t>(address >> 8),
                                      static_cast<uint8_t>(address),
                                      static_cast<uint8_t>(words >> 8),
                                      static_cast<uint8_t>(words)};
            // Command buffer mode: the 7-byte frame goes out in the 20-byte report (ID 1).
            if (!bare.run(1, frame, sizeof frame, response, static_cast<uint16_t>(2 * words + 1))) {
                state.SkipWithError("exchange failed");
                return;
            }
            std::memcpy(image.data() + address, response + 1, 2 * words);
        }
        benchmark::DoNotOptimize(image.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * flash_bytes);
}
BENCHMARK(bare_flash_read)->Unit(benchmark::kMillisecond);

} // namespace
