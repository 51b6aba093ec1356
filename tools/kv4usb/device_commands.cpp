#include "device_commands.h"

#include "failures.h"
#include "format.h"
#include "library.h"
#include "regions.h"

#include <iomanip>
#include <string>

namespace kv4usb {

namespace {

using string_query = int16_t (*)(uint16_t port, char *buffer, uint8_t length);

std::string on_port(const char *what, uint16_t port) { return std::string(what) + " of port " + std::to_string(port); }

// A string the monitor or its HID stack will not give is shown as such, with the code, so that
// the rest of what is known still gets printed. The library closes a port whose string is
// refused; it is opened again, as the monitor itself is fine.
std::string device_string(string_query query, uint16_t port)
{
    char text[128] = {};
    // One byte short of the buffer, so that a string cut to fit still ends in a terminator.
    const int16_t code = query(port, text, sizeof text - 1);
    if (code == 0)
        return text;
    if (code != TKUSB_GET_STRING_ERR)
        return "not available (" + std::to_string(code) + ' ' + error_name(code) + ')';
    usb().reset_port(port);
    // The library's table has no name for this code.
    return "not available (" + std::to_string(code) + ", refused)";
}

const char *buffer_mode_name(uint8_t mode)
{
    switch (mode) {
    case TKUSB_BUFFER_MODE_COMMAND: return "command length chooses the output report";
    case TKUSB_BUFFER_MODE_RESPONSE: return "response length chooses the output report";
    default: return "unknown";
    }
}

void print_field(console &io, const char *name, const std::string &value)
{
    io.out << "  " << std::left << std::setw(14) << name << value << '\n';
}

} // namespace

void print_ports(console &io, const std::vector<uint16_t> &ports)
{
    if (ports.empty()) {
        io.out << "no monitor found\n";
        return;
    }
    io.out << "port  serial     firmware\n";
    for (uint16_t port : ports)
        io.out << std::left << std::setw(6) << port << std::setw(11) << device_string(usb().serial_number, port) + ' '
               << device_string(usb().fw_version, port) << '\n';
}

void print_info(console &io, uint16_t port)
{
    uint16_t largest = 0;
    check(usb().max_report_size(port, &largest), on_port("max report size", port));
    uint8_t mode = 0;
    check(usb().get_buffer_mode(port, &mode), on_port("buffer mode", port));
    io.out << "port " << port << '\n';
    print_field(io, "serial", device_string(usb().serial_number, port));
    print_field(io, "firmware", device_string(usb().fw_version, port));
    print_field(io, "hardware", device_string(usb().hw_version, port));
    print_field(io, "boot loader", device_string(usb().loader_fw_version, port));
    print_field(io, "max report", std::to_string(largest) + " bytes");
    print_field(io, "buffer mode", std::to_string(mode) + " (" + buffer_mode_name(mode) + ")");
}

int run_list(context &ctx, const arguments &)
{
    print_ports(ctx.io, ctx.connect().ports());
    return 0;
}

int run_info(context &ctx, const arguments &args)
{
    const uint16_t port = args.port(0);
    ctx.connect();
    print_info(ctx.io, port);
    return 0;
}

int run_echo(context &ctx, const arguments &args)
{
    const uint16_t port = args.port(0);
    const std::vector<uint8_t> data = args.size() > 1 ? args.hex_bytes(1, "HEXBYTES", 511) : std::vector<uint8_t>{};
    ctx.connect();
    check(usb().echo(port, data.data(), static_cast<uint16_t>(data.size())), on_port("echo", port));
    ctx.io.out << "echo of " << data.size() << " bytes answered\n";
    return 0;
}

int run_status(context &ctx, const arguments &args)
{
    const uint16_t port = args.port(0);
    ctx.connect();
    uint32_t status = 0;
    check(usb().status(port, &status), on_port("status", port));
    ctx.io.out << "status " << hex(status) << '\n';
    return 0;
}

int run_special(context &ctx, const arguments &args)
{
    const uint16_t port = args.port(0);
    const auto argument1 = static_cast<uint16_t>(args.number(1, "ARG1", UINT16_MAX));
    const uint32_t argument2 = args.number(2, "ARG2");
    ctx.connect();
    uint32_t value = 0;
    check(usb().special(port, argument1, argument2, &value), on_port("special", port));
    ctx.io.out << "special " << hex(argument1, 4) << ' ' << hex(argument2) << " answered " << hex(value) << '\n';
    return 0;
}

int run_feature(context &ctx, const arguments &args)
{
    const uint16_t port = args.port(0);
    const auto value = static_cast<uint16_t>(args.number(1, "VALUE", UINT16_MAX));
    ctx.connect();
    check(usb().set_feature(port, value, 0), on_port("feature report", port));
    ctx.io.out << "feature " << hex(value, 4) << " sent\n";
    return 0;
}

uint32_t image_crc(uint16_t port, uint32_t address, uint32_t length)
{
    uint32_t crc = 0;
    uint16_t answer = answer_request(5);
    check(usb().get_image_crc(port, address, &crc, length, &answer), on_port("image CRC", port));
    return crc;
}

int run_crc(context &ctx, const arguments &args)
{
    const uint16_t port = args.port(0);
    const uint32_t address = args.number(1, "ADDRESS");
    const uint32_t length = args.number(2, "LENGTH");
    ctx.connect();
    const uint32_t crc = image_crc(port, address, length);
    ctx.io.out << "image CRC " << hex(crc) << " of " << length << " bytes at " << hex(address) << '\n';
    return 0;
}

// Monitors answer one generation of the update-status query or both; each is shown on its own,
// and a refused one does not hide the other.
int run_update_status(context &ctx, const arguments &args)
{
    const uint16_t port = args.port(0);
    ctx.connect();
    int status = 0;
    tkcmdsetUSB_update_status first{};
    uint16_t answer = answer_request(5);
    if (const int16_t code = usb().get_update_status(port, &first, &answer); code != 0) {
        print_call_failure(ctx.io.err, on_port("update status", port), code);
        status = 1;
    } else {
        ctx.io.out << "update status     " << hex(first.first_value, 4) << ' ' << hex(first.second_value, 4) << '\n';
    }
    tkcmdsetUSB_v3_update_status v3{};
    answer = answer_request(7);
    if (const int16_t code = usb().get_V3_update_status(port, &v3, &answer); code != 0) {
        print_call_failure(ctx.io.err, on_port("V3 update status", port), code);
        status = 1;
    } else {
        ctx.io.out << "V3 update status  " << hex(v3.first_value) << ' ' << hex(v3.second_value, 4) << '\n';
    }
    return status;
}

} // namespace kv4usb
