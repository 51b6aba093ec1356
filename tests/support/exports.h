// The exports that share a signature, as tables: the block commands (the count in each one's own
// units, words or bytes) and the string queries.
#pragma once

#include "kv4usbcp.h"

namespace kv4test {

struct block_command {
    const char *name;
    bool write;
    unsigned unit; // bytes per counted unit
    int16_t (*run)(uint16_t port, uint32_t address, uint8_t *data, uint32_t count, uint16_t *length);
};
template <auto export_function>
int16_t run_block(uint16_t port, uint32_t address, uint8_t *data, uint32_t count, uint16_t *length)
{
    return export_function(port, address, data, count, length);
}
inline const block_command block_commands[] = {
    {"write_flashblk16", true, 2, run_block<tkcmdsetUSB_write_flashblk16>},
    {"read_flashblk16", false, 2, run_block<tkcmdsetUSB_read_flashblk16>},
    {"write_spiflashblk8", true, 1, run_block<tkcmdsetUSB_write_spiflashblk8>},
    {"read_spiflashblk8", false, 1, run_block<tkcmdsetUSB_read_spiflashblk8>},
    {"write_memblk16", true, 2, run_block<tkcmdsetUSB_write_memblk16>},
    {"write_memblk8", true, 1, run_block<tkcmdsetUSB_write_memblk8>},
    {"read_memblk8", false, 1, run_block<tkcmdsetUSB_read_memblk8>},
    {"write_eeblk8", true, 1, run_block<tkcmdsetUSB_write_eeblk8>},
    {"read_eeblk8", false, 1, run_block<tkcmdsetUSB_read_eeblk8>},
};

inline int16_t (*const string_queries[])(uint16_t port, char *buffer, uint8_t length) = {
    tkcmdsetUSB_serial_number, tkcmdsetUSB_fw_version, tkcmdsetUSB_hw_version, tkcmdsetUSB_loader_fw_version};

} // namespace kv4test
