#include "memory_commands.h"

#include "failures.h"
#include "format.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace kv4usb {

namespace {

[[noreturn]] void file_failure(const std::string &doing, const std::string &path)
{
    throw tool_failure(doing + " '" + path + "' failed: " + std::strerror(errno));
}

std::vector<uint8_t> load_file(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        file_failure("opening", path);
    std::vector<uint8_t> data{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (file.bad())
        file_failure("reading", path);
    return data;
}

// The file's data with the span it is to occupy checked before any monitor is contacted.
std::vector<uint8_t> load_span(const arguments &args, const region &r, uint32_t address, std::size_t path_index)
{
    std::vector<uint8_t> data = load_file(args.text(path_index));
    check_span(args, r, address, data.size());
    return data;
}

std::string span_text(const region &r, uint32_t address, std::size_t length)
{
    return std::to_string(length) + " bytes of " + r.name + " at " + hex(address);
}

} // namespace

int run_read(context &ctx, const arguments &args)
{
    const region &r = region_argument(args, 0);
    const uint16_t port = args.port(1);
    const uint32_t address = args.number(2, "ADDRESS");
    const uint32_t length = args.number(3, "LENGTH");
    check_span(args, r, address, length);
    // Opened first, so that an unwritable path costs no transfer.
    std::ofstream file(args.text(4), std::ios::binary);
    if (!file)
        file_failure("creating", args.text(4));
    ctx.connect();
    std::vector<uint8_t> data(length);
    progress shown(ctx.io, "read", length);
    read_region(port, r, address, data.data(), length, shown);
    if (!file.write(reinterpret_cast<const char *>(data.data()), static_cast<std::streamsize>(length)).flush())
        file_failure("writing", args.text(4));
    ctx.io.out << "read " << span_text(r, address, length) << " into " << args.text(4) << '\n';
    return 0;
}

int run_write(context &ctx, const arguments &args)
{
    const region &r = region_argument(args, 0);
    const uint16_t port = args.port(1);
    const uint32_t address = args.number(2, "ADDRESS");
    const std::vector<uint8_t> data = load_span(args, r, address, 3);
    ctx.connect();
    progress shown(ctx.io, "write", data.size());
    write_region(port, r, address, data.data(), static_cast<uint32_t>(data.size()), shown);
    ctx.io.out << "wrote " << span_text(r, address, data.size()) << " from " << args.text(3) << '\n';
    return 0;
}

int run_verify(context &ctx, const arguments &args)
{
    const region &r = region_argument(args, 0);
    const uint16_t port = args.port(1);
    const uint32_t address = args.number(2, "ADDRESS");
    const std::vector<uint8_t> data = load_span(args, r, address, 3);
    ctx.connect();
    verify_region(ctx.io, port, r, address, data, args.text(3));
    return 0;
}

void verify_region(console &io, uint16_t port, const region &r, uint32_t address, const std::vector<uint8_t> &expected,
                   const std::string &source)
{
    std::vector<uint8_t> actual(expected.size());
    progress shown(io, "verify", expected.size());
    read_region(port, r, address, actual.data(), static_cast<uint32_t>(actual.size()), shown);
    const auto differs = std::mismatch(actual.begin(), actual.end(), expected.begin());
    if (differs.first != actual.end()) {
        const auto offset = static_cast<uint32_t>(differs.first - actual.begin());
        throw tool_failure("verify of " + span_text(r, address, expected.size()) + " against " + source +
                           ": first difference at " + hex(address + offset) + ": monitor " + hex(*differs.first, 2) +
                           ", expected " + hex(*differs.second, 2));
    }
    io.out << "verify: " << span_text(r, address, expected.size()) << " match " << source << '\n';
}

} // namespace kv4usb
