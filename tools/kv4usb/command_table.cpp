#include "command_table.h"

#include "demo.h"
#include "device_commands.h"
#include "memory_commands.h"
#include "poll_command.h"
#include "watch_command.h"

#include <iomanip>

namespace kv4usb {

namespace {

constexpr const char *regions_help =
    "REGION is eeprom, ram, flash or spiflash, in any letter case. Addresses are byte\n"
    "addresses; flash moves in 16-bit words, so its addresses and lengths must be\n"
    "even. EEPROM addresses end at 0xFFFF. Transfers are split into the largest\n"
    "blocks the port's reports carry. A read fills FILE only once all of it has\n"
    "arrived; a write first reads the last byte it would reach, so that a memory\n"
    "that ends before it is left untouched.\n";

const command commands[] = {
    {"list", "", "the monitors found: port, serial number, firmware version", "", 0, 0, run_list},
    {"info", "PORT", "a monitor's identification strings, largest report and buffer mode", "", 1, 1, run_info},
    {"echo", "PORT [HEXBYTES]", "sends an echo command (up to 511 bytes, e.g. 0a1b2c)", "", 1, 2, run_echo},
    {"status", "PORT", "the monitor's 32-bit status word", "", 1, 1, run_status},
    {"special", "PORT ARG1 ARG2", "the special command: 16-bit ARG1, 32-bit ARG2, 32-bit answer", "", 3, 3,
     run_special},
    {"feature", "PORT VALUE", "sends a 16-bit VALUE in a feature report", "", 2, 2, run_feature},
    {"read", "REGION PORT ADDRESS LENGTH FILE", "reads LENGTH bytes of a memory into FILE", regions_help, 5, 5,
     run_read},
    {"write", "REGION PORT ADDRESS FILE", "writes FILE into a memory; nothing when the memory ends too soon",
     regions_help, 4, 4, run_write},
    {"verify", "REGION PORT ADDRESS FILE", "reads a memory back and compares it with FILE",
     "Reports the first address that differs.\n", 4, 4, run_verify},
    {"crc", "PORT ADDRESS LENGTH", "the CRC-32 the monitor computes over a flash image region",
     "ADDRESS and LENGTH are in bytes.\n", 3, 3, run_crc},
    {"update-status", "PORT", "the firmware update status, both generations of the query", "", 1, 1, run_update_status},
    {"poll", "PORT... [--count=N]", "keeps status exchanges going asynchronously and measures them",
     "Registers a completion callback and keeps one status exchange under way on each PORT, the\n"
     "next sent from the completion of the last, until N exchanges per port have ended (default\n"
     "1000, at most 100000; 1000 ms time-out each). Prints the exchanges per second, the median\n"
     "and 99th percentile of the round trip from send to completion callback, and the failures\n"
     "by name; an answer whose status byte is 0 counts as failed with the monitor's code.\n",
     1, 255, run_poll, "--count"},
    {"watch", "[--seconds=N]", "prints monitors and volumes as they arrive and leave",
     "Registers the event callback and prints a line per event: the monitors attached are\n"
     "reported first, as the library opens them. Runs until end of input (Ctrl-D; Ctrl-Z and\n"
     "Enter on Windows) or Ctrl-C, or for N seconds (at most 604800). With --simulate it plugs\n"
     "one more monitor in, out and in again on a new socket, has volume E: arrive and leave,\n"
     "and ends. Without --simulate it never plugs in a simulated monitor.\n",
     0, 0, run_watch, "--seconds"},
    {"demo", "", "a short guided session, on a simulated monitor when none is attached",
     "Lists, identifies, writes and verifies 1 KiB of EEPROM, reads 64 KiB of flash and checks\n"
     "it against the monitor's image CRC, explaining each step. On a monitor attached it first\n"
     "reads the EEPROM block and writes back those same bytes; its flash is only read.\n",
     0, 0, run_demo},
};

} // namespace

const command *find_command(const std::string &name)
{
    for (const command &c : commands)
        if (name == c.name)
            return &c;
    return nullptr;
}

void print_overview(std::ostream &out)
{
    out << "usage: kv4usb [--simulate[=N]] COMMAND [ARGUMENTS] [-- COMMAND [ARGUMENTS]]...\n\n"
           "Talks to KV4 fitness monitors over USB. Without --simulate it uses the monitors\n"
           "attached and fails when there are none; only demo then goes on with a simulated\n"
           "one. --simulate=N plugs in N simulated monitors (1 to 255; --simulate is 1) on the\n"
           "simulator library. Each invocation starts fresh ones, so commands that must see\n"
           "the same simulated monitor go in one invocation, separated by --:\n"
           "  kv4usb --simulate write eeprom 0 0 a.bin -- verify eeprom 0 0 a.bin\n"
           "Numbers are decimal, or hexadecimal after 0x.\n\n"
           "The library (libkv4usbcp.so.3 or KV4USBCP.dll; with --simulate libkv4usbcp_sim.so.3 or\n"
           "KV4USBCP_sim.dll) is loaded from kv4usb's own folder, the installed library folder, the\n"
           "build tree or wherever the system looks for libraries, in that order.\n\n"
           "commands:\n";
    for (const command &c : commands)
        out << "  " << std::left << std::setw(14) << c.name << c.summary << '\n';
    out << "\nkv4usb help COMMAND, or kv4usb COMMAND --help, shows a command's arguments.\n";
}

void print_usage_line(std::ostream &out, const command &c)
{
    out << "usage: kv4usb " << c.name << (*c.synopsis ? " " : "") << c.synopsis << '\n';
}

void print_command_help(std::ostream &out, const command &c)
{
    print_usage_line(out, c);
    out << '\n' << c.summary << '\n' << c.details;
}

} // namespace kv4usb
