#include "regions.h"

#include "failures.h"
#include "format.h"
#include "library.h"

#include <algorithm>
#include <string>

namespace kv4usb {

namespace {

constexpr uint64_t whole_range = uint64_t{1} << 32;

const region regions[] = {
    {"eeprom", 1, 7, 0x10000,
     [](uint16_t p, uint32_t a, uint8_t *d, uint32_t n, uint16_t *r) {
         return usb().read_eeblk8(p, a, d, static_cast<uint16_t>(n), r);
     },
     [](uint16_t p, uint32_t a, const uint8_t *d, uint32_t n, uint16_t *r) {
         return usb().write_eeblk8(p, a, d, static_cast<uint16_t>(n), r);
     }},
    {"ram", 1, 9, whole_range,
     [](uint16_t p, uint32_t a, uint8_t *d, uint32_t n, uint16_t *r) {
         return usb().read_memblk8(p, a, d, static_cast<uint16_t>(n), r);
     },
     [](uint16_t p, uint32_t a, const uint8_t *d, uint32_t n, uint16_t *r) {
         return usb().write_memblk8(p, a, d, static_cast<uint16_t>(n), r);
     }},
    {"flash", 2, 9, whole_range,
     [](uint16_t p, uint32_t a, uint8_t *d, uint32_t n, uint16_t *r) {
         return usb().read_flashblk16(p, a, d, n / 2, r);
     },
     [](uint16_t p, uint32_t a, const uint8_t *d, uint32_t n, uint16_t *r) {
         return usb().write_flashblk16(p, a, d, n / 2, r);
     }},
    {"spiflash", 1, 9, whole_range,
     [](uint16_t p, uint32_t a, uint8_t *d, uint32_t n, uint16_t *r) { return usb().read_spiflashblk8(p, a, d, n, r); },
     [](uint16_t p, uint32_t a, const uint8_t *d, uint32_t n, uint16_t *r) {
         return usb().write_spiflashblk8(p, a, d, n, r);
     }},
};

std::string describe(const region &r, const char *verb, uint32_t address, uint32_t bytes)
{
    return std::string(r.name) + ' ' + verb + " of " + std::to_string(bytes) + " bytes at " + hex(address);
}

} // namespace

const region *find_region(const std::string &name)
{
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; });
    for (const region &r : regions)
        if (lower == r.name)
            return &r;
    return nullptr;
}

const region &region_argument(const arguments &args, std::size_t i)
{
    if (const region *r = find_region(args.text(i)))
        return *r;
    args.fail("REGION: '" + args.text(i) + "' is none of eeprom, ram, flash, spiflash");
}

void check_span(const arguments &args, const region &r, uint32_t address, uint64_t length)
{
    if (address % r.unit != 0 || length % r.unit != 0)
        args.fail(std::string(r.name) + " is counted in 16-bit words: its byte addresses and lengths must be even");
    if (address + length > r.end)
        args.fail(std::string(r.name) + ": " + std::to_string(length) + " bytes at " + hex(address) + " go past " +
                  hex(r.end - 1));
}

block_limits block_limits_of(uint16_t port, const region &r)
{
    uint16_t largest = 0;
    check(usb().max_report_size(port, &largest), "reading the report size of port " + std::to_string(port));
    // The library refuses, without asking the monitor, a write block longer than the report less
    // its frame header. It would take a read of the largest report less the status byte, but
    // delivers one byte less than asked whenever the answer fills a report exactly, so a read
    // block stays one byte short of that and asks for one answer byte more (see read_region).
    const uint32_t unit_mask = ~(r.unit - 1);
    const uint32_t read = largest > 2 ? (largest - 2u) & unit_mask : 0;
    const uint32_t write = largest > r.write_overhead ? (largest - r.write_overhead) & ~1u : 0;
    if (read == 0 || write == 0)
        throw tool_failure("port " + std::to_string(port) + "'s largest report (" + std::to_string(largest) +
                           " bytes) is too small for " + r.name + " blocks");
    return {read, write};
}

void read_region(uint16_t port, const region &r, uint32_t address, uint8_t *data, uint32_t length, progress &shown)
{
    const uint32_t block = block_limits_of(port, r).read;
    for (uint32_t done = 0; done < length;) {
        const uint32_t n = std::min(block, length - done);
        uint16_t answer = answer_request(n + 1);
        check(r.read(port, address + done, data + done, n, &answer), describe(r, "read", address + done, n));
        // Bytes the monitor did not deliver would read as zeros; never pass them off as data.
        if (answer < n + 1)
            throw call_failure(describe(r, "read", address + done, n), TKUSB_READ_INCOMPLETE_ERR);
        shown.advance(n);
        done += n;
    }
}

void check_reach(uint16_t port, const region &r, uint32_t address, uint32_t length)
{
    if (length == 0)
        return;
    const uint32_t last = address + length - r.unit;
    uint8_t unit[2];
    uint16_t answer = answer_request(r.unit + 1);
    const std::string what = describe(r, "write", address, length) + ": nothing written, as the read of its last " +
                             (r.unit == 2 ? "word" : "byte") + " at " + hex(last);
    check(r.read(port, last, unit, r.unit, &answer), what);
    if (answer < r.unit + 1)
        throw call_failure(what, TKUSB_READ_INCOMPLETE_ERR);
}

void write_region(uint16_t port, const region &r, uint32_t address, const uint8_t *data, uint32_t length,
                  progress &shown)
{
    const uint32_t block = block_limits_of(port, r).write;
    for (uint32_t done = 0; done < length;) {
        const uint32_t n = std::min(block, length - done);
        uint16_t answer = answer_request(3); // a refusal's status byte and code
        check(r.write(port, address + done, data + done, n, &answer), describe(r, "write", address + done, n));
        shown.advance(n);
        done += n;
    }
}

} // namespace kv4usb
