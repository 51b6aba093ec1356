#include "memory_commands.h"

#include "failures.h"
#include "format.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
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

// A read goes into a file beside its target that takes the target's name only once every byte has
// arrived: a failed read leaves no file that could pass for a dump, and an older file of that
// name stays as it was.
class read_file {
  public:
    explicit read_file(const std::string &path) : path_(path), temporary_(path + ".part")
    {
        file_.open(temporary_, std::ios::binary);
        if (!file_)
            file_failure("creating", temporary_);
    }
    ~read_file()
    {
        if (kept_)
            return;
        file_.close();
        std::error_code ignored;
        std::filesystem::remove(temporary_, ignored);
    }
    read_file(const read_file &) = delete;
    read_file &operator=(const read_file &) = delete;

    void keep(const std::vector<uint8_t> &data)
    {
        if (!file_.write(reinterpret_cast<const char *>(data.data()), static_cast<std::streamsize>(data.size()))
                 .flush())
            file_failure("writing", temporary_);
        file_.close();
        std::error_code failed;
        std::filesystem::rename(temporary_, path_, failed);
        if (failed)
            throw tool_failure("renaming '" + temporary_ + "' to '" + path_ + "' failed: " + failed.message());
        kept_ = true;
    }

  private:
    std::string path_;
    std::string temporary_;
    std::ofstream file_;
    bool kept_ = false;
};

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
    read_file file(args.text(4));
    ctx.connect();
    std::vector<uint8_t> data(length);
    {
        progress shown(ctx.io, "read", length);
        read_region(port, r, address, data.data(), length, shown);
    }
    file.keep(data);
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
    check_reach(port, r, address, static_cast<uint32_t>(data.size()));
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
