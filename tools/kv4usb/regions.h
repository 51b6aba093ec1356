// The monitor's memories as kv4usb names them, and transfers of any length into and out of them,
// split into the largest blocks the port's reports carry.
//
// Addresses are byte addresses in every region. Flash is read and written in 16-bit words, so its
// addresses and lengths must be even (the monitor counts words but addresses bytes; its image CRC
// takes byte addresses too). EEPROM commands carry a 16-bit address, so EEPROM ends at 0x10000.
#pragma once

#include "arguments.h"
#include "progress.h"

#include <cstdint>
#include <string>

namespace kv4usb {

// Block commands with their count in bytes; response is the library's in/out answer length.
using read_call = int16_t (*)(uint16_t port, uint32_t address, uint8_t *data, uint32_t bytes, uint16_t *response);
using write_call = int16_t (*)(uint16_t port, uint32_t address, const uint8_t *data, uint32_t bytes,
                               uint16_t *response);

struct region {
    const char *name;
    uint32_t unit;           // bytes per unit the monitor counts: 2 for flash words
    uint32_t write_overhead; // a write block holds at most the largest report less this, made even
    uint64_t end;            // first address the region's commands cannot reach
    read_call read;
    write_call write;
};

// The region of that name in any letter case ("eeprom", "RAM", "Flash", "spiflash"), or null.
const region *find_region(const std::string &name);
// The region named by argument i ("eeprom", "ram", "flash", "spiflash").
const region &region_argument(const arguments &args, std::size_t i);
// Usage error unless [address, address + length) is even where words are counted and ends in reach.
void check_span(const arguments &args, const region &r, uint32_t address, uint64_t length);

// The answer length to ask for when needed bytes must arrive: one more, because an answer that
// fills an input report exactly comes back one byte short.
constexpr uint16_t answer_request(uint32_t needed) { return static_cast<uint16_t>(needed + 1); }

struct block_limits {
    uint32_t read;
    uint32_t write;
};
// The largest blocks the library accepts on the port for the region.
block_limits block_limits_of(uint16_t port, const region &r);

void read_region(uint16_t port, const region &r, uint32_t address, uint8_t *data, uint32_t length, progress &shown);
// Reads the last byte (word) a write would reach, so that a memory that ends before it refuses the
// write before any of it is written: the monitor's memories may end short of what the commands reach.
void check_reach(uint16_t port, const region &r, uint32_t address, uint32_t length);
void write_region(uint16_t port, const region &r, uint32_t address, const uint8_t *data, uint32_t length,
                  progress &shown);

} // namespace kv4usb
