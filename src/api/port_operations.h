// The port operations the command set builds on, each reached through the dispatch glue
// (TKUSB_NO_PORT_INIT_ERR before initialisation, TKUSB_INVALID_PORT_ERR for an unknown port).
#pragma once

#include <cstdint>

namespace kv4 {

constexpr uint16_t command_timeout_short = 1000; // milliseconds
constexpr uint16_t command_timeout_long = 6000;

int16_t port_do_command(uint16_t port, const uint8_t *command, uint16_t command_length, uint8_t *response,
                        uint16_t *response_length, uint16_t timeout_ms);
int16_t port_max_report_size(uint16_t port, uint16_t *size);
int16_t port_set_buffer_mode(uint16_t port, uint8_t mode);
int16_t port_get_buffer_mode(uint16_t port, uint8_t *mode);

// The port's maximum report size, at most 500; 0 when it cannot be read.
uint16_t capped_max_report_size(uint16_t port);

// Big-endian numbers inside frames.
inline void put_be16(uint8_t *at, uint32_t value)
{
    at[0] = static_cast<uint8_t>(value >> 8);
    at[1] = static_cast<uint8_t>(value);
}
inline void put_be32(uint8_t *at, uint32_t value)
{
    put_be16(at, value >> 16);
    put_be16(at + 2, value);
}
inline uint16_t get_be16(const uint8_t *at) { return static_cast<uint16_t>((at[0] << 8) | at[1]); }
inline uint32_t get_be32(const uint8_t *at) { return (uint32_t{get_be16(at)} << 16) | get_be16(at + 2); }

} // namespace kv4
