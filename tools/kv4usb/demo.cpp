#include "demo.h"

#include "crc32.h"
#include "device_commands.h"
#include "failures.h"
#include "format.h"
#include "library.h"
#include "memory_commands.h"
#include "regions.h"

#include <string>

namespace kv4usb {

namespace {

constexpr uint32_t eeprom_bytes = 1024;
constexpr uint32_t flash_bytes = 64 * 1024;

std::vector<uint8_t> eeprom_pattern()
{
    const std::string phrase = "KV4USBCP demo pattern. ";
    std::vector<uint8_t> pattern(eeprom_bytes);
    for (std::size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = static_cast<uint8_t>(phrase[i % phrase.size()]);
    return pattern;
}

void step(console &io, int number, const std::string &command, const std::string &why)
{
    io.out << '\n' << number << ". kv4usb " << command << "  -- " << why << '\n';
}

uint16_t first_port(session &s)
{
    if (s.ports().empty())
        throw tool_failure("no monitor was found");
    return s.ports().front();
}

// On a monitor of the user's own the EEPROM gets back exactly what it held.
void eeprom_round_trip(console &io, uint16_t port, bool simulated)
{
    const region &eeprom = *find_region("eeprom");
    std::vector<uint8_t> pattern = eeprom_pattern();
    if (!simulated) {
        progress shown(io, "read", eeprom_bytes);
        read_region(port, eeprom, 0, pattern.data(), eeprom_bytes, shown);
    }
    const uint32_t block = block_limits_of(port, eeprom).write;
    step(io, 3, "write eeprom " + std::to_string(port) + " 0 FILE",
         std::string(simulated ? "1 KiB of text" : "the 1 KiB it holds") + " goes in blocks of up to " +
             std::to_string(block) + " bytes, one report each");
    progress shown(io, "write", pattern.size());
    write_region(port, eeprom, 0, pattern.data(), eeprom_bytes, shown);
    step(io, 4, "verify eeprom " + std::to_string(port) + " 0 FILE", "reads the bytes back and compares them");
    verify_region(io, port, eeprom, 0, pattern, "the bytes written");
}

void flash_read_and_crc(console &io, uint16_t port)
{
    const region &flash = *find_region("flash");
    const std::string where = std::to_string(port) + " 0 " + std::to_string(flash_bytes);
    step(io, 5, "read flash " + where + " FILE",
         "flash moves in 16-bit words, here " + std::to_string(block_limits_of(port, flash).read) + " bytes a block");
    std::vector<uint8_t> image(flash_bytes);
    progress shown(io, "read", flash_bytes);
    read_region(port, flash, 0, image.data(), flash_bytes, shown);
    step(io, 6, "crc " + where, "the monitor computes the CRC-32 of its image region itself");
    const uint32_t monitor_crc = image_crc(port, 0, flash_bytes);
    const uint32_t read_crc = crc32(image.data(), image.size());
    io.out << "image CRC " << hex(monitor_crc) << "; CRC-32 of the bytes read " << hex(read_crc) << '\n';
    if (monitor_crc != read_crc)
        throw tool_failure("the flash read does not match the monitor's image CRC");
    io.out << "they agree: every block arrived intact\n";
}

} // namespace

std::vector<uint8_t> demo_flash_image()
{
    std::vector<uint8_t> image(flash_bytes);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>((i >> 8) ^ (i * 31));
    return image;
}

int run_demo(context &ctx, const arguments &)
{
    // The monitors attached when there are any, else a simulated one.
    session &s = ctx.connect(monitors::or_simulated);
    const bool simulated = !s.simulated_monitors().empty();
    const std::vector<uint8_t> image = demo_flash_image();
    for (kv4sim_monitor *monitor : s.simulated_monitors())
        sim().write_memory(monitor, KV4SIM_FLASH, 0, image.data(), image.size());
    console &io = ctx.io;
    io.out << (simulated ? "kv4usb demo: a short session with a simulated KV4 monitor, whose flash holds a sample image\n"
                         : "kv4usb demo: a short session with the KV4 monitor attached; it writes back only what it read\n");
    step(io, 1, "list", "discovery gives every monitor a port number");
    print_ports(io, s.ports());
    const uint16_t port = first_port(s);
    step(io, 2, "info " + std::to_string(port),
         "its identification strings, and its largest report, which sets the block size");
    print_info(io, port);
    eeprom_round_trip(io, port, simulated);
    flash_read_and_crc(io, port);
    io.out << "\nNext: kv4usb help lists every command; add --simulate to try one without a monitor.\n";
    return 0;
}

} // namespace kv4usb
