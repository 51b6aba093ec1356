// Memory and firmware block commands. Each sizes its block to the port's largest report, runs
// its frame in command buffer mode (so that a long frame gets a long enough output report) and
// puts the port's mode back.
#include "api/port_operations.h"
#include "kv4usbcp.h"
#include "platform/boundary.h"

#include <cstring>

using namespace kv4;

namespace {

constexpr uint32_t block_cap = 500;
constexpr uint16_t response_area_size = 501; // status byte and up to 500 data bytes

// The largest write block for a frame header of header_bytes (7 or 5) plus two spare bytes:
// M - header - 2, made even; no limit but the cap while M is below that.
uint32_t write_limit(uint16_t max_report, uint16_t header_bytes)
{
    const uint16_t reserve = static_cast<uint16_t>(header_bytes + 2);
    if (max_report < reserve)
        return block_cap;
    const uint32_t limit = max_report - reserve;
    return limit & ~1u;
}

uint32_t read_limit(uint16_t max_report) { return max_report == 0 ? block_cap : max_report - 1u; }

// Runs a frame in command buffer mode and restores the mode the port had.
int16_t run_in_command_mode(uint16_t port, const uint8_t *frame, uint16_t frame_length, uint8_t *response,
                            uint16_t *response_length, uint16_t timeout)
{
    uint8_t saved = 0;
    if (const int16_t result = port_get_buffer_mode(port, &saved))
        return result;
    if (const int16_t result = port_set_buffer_mode(port, TKUSB_BUFFER_MODE_COMMAND)) {
        port_set_buffer_mode(port, saved);
        return result;
    }
    const int16_t result = tkcmdsetUSB_do_command(port, frame, frame_length, response, response_length, timeout);
    port_set_buffer_mode(port, saved);
    return result;
}

bool response_length_fits(const uint16_t *response_length)
{
    return response_length && *response_length <= response_area_size;
}

// Frame header: code, address (4 or 2 bytes), count (2 bytes).
uint16_t put_header(uint8_t *frame, uint8_t code, uint32_t address, bool short_address, uint32_t count)
{
    frame[0] = code;
    if (short_address) {
        put_be16(frame + 1, address);
        put_be16(frame + 3, count);
        return 5;
    }
    put_be32(frame + 1, address);
    put_be16(frame + 5, count);
    return 7;
}

struct block_command {
    uint8_t code;
    bool short_address; // EEPROM: 16-bit address
    uint16_t timeout;
};

int16_t write_block(uint16_t port, const block_command &command, uint32_t address, const uint8_t *data,
                    uint32_t bytes, uint32_t count, uint16_t *response_length)
{
    uint8_t response[response_area_size] = {};
    const uint16_t header = command.short_address ? 5 : 7;
    const uint16_t max_report = capped_max_report_size(port);
    if (bytes > write_limit(max_report, header) || bytes > block_cap)
        return TKUSB_WRITE_FAILED_ERR;
    if (bytes == 0)
        return 0;
    if (!data || !response_length_fits(response_length))
        return TKUSB_INVALID_PARAMETER;
    uint8_t frame[block_cap + 7];
    put_header(frame, command.code, address, command.short_address, count);
    std::memcpy(frame + header, data, bytes);
    return run_in_command_mode(port, frame, static_cast<uint16_t>(header + bytes), response, response_length,
                               command.timeout);
}

int16_t read_block(uint16_t port, const block_command &command, uint32_t address, uint8_t *data, uint32_t bytes,
                   uint32_t count, uint16_t *response_length)
{
    uint8_t response[response_area_size] = {};
    const uint16_t max_report = capped_max_report_size(port);
    if (bytes > read_limit(max_report) || bytes > block_cap)
        return TKUSB_READ_FAILED_ERR;
    if (bytes == 0)
        return 0;
    if (!data || !response_length_fits(response_length))
        return TKUSB_INVALID_PARAMETER;
    uint8_t frame[7];
    const uint16_t frame_length = put_header(frame, command.code, address, command.short_address, count);
    const int16_t result = run_in_command_mode(port, frame, frame_length, response, response_length, command.timeout);
    if (result == 0)
        std::memcpy(data, response + 1, bytes);
    return result;
}

// The query commands carry no block; on success decode(answer) reads response bytes 1 onward.
template <typename Decode>
int16_t query(uint16_t port, const uint8_t *frame, uint16_t frame_length, uint16_t timeout,
              uint16_t *response_length, Decode decode)
{
    if (!response_length_fits(response_length))
        return TKUSB_INVALID_PARAMETER;
    uint8_t response[response_area_size] = {};
    const int16_t result = run_in_command_mode(port, frame, frame_length, response, response_length, timeout);
    if (result == 0)
        decode(response + 1);
    return result;
}

// 1000 ms plus 0.0228 ms per byte, truncated, then taken to 16 bits as the transaction's timeout.
uint16_t crc_timeout(uint32_t length)
{
    return static_cast<uint16_t>(1000u + static_cast<uint32_t>(static_cast<double>(length) * 0.0228));
}

constexpr block_command write_flash{0x22, false, command_timeout_long};
constexpr block_command read_flash{0x23, false, command_timeout_long};
constexpr block_command write_spiflash{0x29, false, command_timeout_long};
constexpr block_command read_spiflash{0x2A, false, command_timeout_long};
constexpr block_command write_mem16{0x1A, false, command_timeout_short};
constexpr block_command write_mem8{0x1E, false, command_timeout_long};
constexpr block_command read_mem8{0x1F, false, command_timeout_long};
constexpr block_command write_ee{0x24, true, command_timeout_long};
constexpr block_command read_ee{0x25, true, command_timeout_long};

// Word counts wider than the block can never pass the limit; doubling them must not wrap.
uint32_t word_bytes(uint32_t words) { return words > block_cap ? block_cap + 1 : 2 * words; }

} // namespace

extern "C" {

KV4USBCP_API int16_t tkcmdsetUSB_write_flashblk16(uint16_t port, uint32_t address, const uint8_t *data,
                                                  uint32_t words, uint16_t *response_length)
{
    return guarded([&] { return write_block(port, write_flash, address, data, word_bytes(words), words, response_length); });
}

KV4USBCP_API int16_t tkcmdsetUSB_read_flashblk16(uint16_t port, uint32_t address, uint8_t *data, uint32_t words,
                                                 uint16_t *response_length)
{
    return guarded([&] { return read_block(port, read_flash, address, data, word_bytes(words), words, response_length); });
}

KV4USBCP_API int16_t tkcmdsetUSB_write_spiflashblk8(uint16_t port, uint32_t address, const uint8_t *data,
                                                    uint32_t count, uint16_t *response_length)
{
    return guarded([&] { return write_block(port, write_spiflash, address, data, count, count, response_length); });
}

KV4USBCP_API int16_t tkcmdsetUSB_read_spiflashblk8(uint16_t port, uint32_t address, uint8_t *data, uint32_t count,
                                                   uint16_t *response_length)
{
    return guarded([&] { return read_block(port, read_spiflash, address, data, count, count, response_length); });
}

KV4USBCP_API int16_t tkcmdsetUSB_write_memblk16(uint16_t port, uint32_t address, const uint8_t *data,
                                                uint32_t words, uint16_t *response_length)
{
    return guarded([&] { return write_block(port, write_mem16, address, data, word_bytes(words), words, response_length); });
}

KV4USBCP_API int16_t tkcmdsetUSB_write_memblk8(uint16_t port, uint32_t address, const uint8_t *data, uint16_t count,
                                               uint16_t *response_length)
{
    return guarded([&] { return write_block(port, write_mem8, address, data, count, count, response_length); });
}

KV4USBCP_API int16_t tkcmdsetUSB_read_memblk8(uint16_t port, uint32_t address, uint8_t *data, uint16_t count,
                                              uint16_t *response_length)
{
    return guarded([&] { return read_block(port, read_mem8, address, data, count, count, response_length); });
}

KV4USBCP_API int16_t tkcmdsetUSB_write_eeblk8(uint16_t port, uint32_t address, const uint8_t *data, uint16_t count,
                                              uint16_t *response_length)
{
    return guarded([&] { return write_block(port, write_ee, address, data, count, count, response_length); });
}

KV4USBCP_API int16_t tkcmdsetUSB_read_eeblk8(uint16_t port, uint32_t address, uint8_t *data, uint16_t count,
                                             uint16_t *response_length)
{
    return guarded([&] { return read_block(port, read_ee, address, data, count, count, response_length); });
}

KV4USBCP_API int16_t tkcmdsetUSB_get_image_crc(uint16_t port, uint32_t address, uint32_t *crc, uint32_t length,
                                               uint16_t *response_length)
{
    return guarded([&]() -> int16_t {
        if (!crc)
            return TKUSB_INVALID_PARAMETER;
        uint8_t frame[9] = {0x2C};
        put_be32(frame + 1, address);
        put_be32(frame + 5, length);
        return query(port, frame, sizeof frame, crc_timeout(length), response_length,
                     [crc](const uint8_t *answer) { *crc = get_be32(answer); });
    });
}

KV4USBCP_API int16_t tkcmdsetUSB_get_update_status(uint16_t port, tkcmdsetUSB_update_status *status,
                                                   uint16_t *response_length)
{
    return guarded([&]() -> int16_t {
        if (!status)
            return TKUSB_INVALID_PARAMETER;
        const uint8_t frame[1] = {0x2D};
        return query(port, frame, sizeof frame, command_timeout_long, response_length, [status](const uint8_t *answer) {
            status->first_value = get_be16(answer);
            status->second_value = get_be16(answer + 2);
        });
    });
}

KV4USBCP_API int16_t tkcmdsetUSB_get_V3_update_status(uint16_t port, tkcmdsetUSB_v3_update_status *status,
                                                      uint16_t *response_length)
{
    return guarded([&]() -> int16_t {
        if (!status)
            return TKUSB_INVALID_PARAMETER;
        const uint8_t frame[1] = {0x2E};
        return query(port, frame, sizeof frame, command_timeout_long, response_length, [status](const uint8_t *answer) {
            status->first_value = get_be32(answer);
            status->second_value = get_be16(answer + 4);
        });
    });
}

} // extern "C"
