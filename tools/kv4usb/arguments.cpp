#include "arguments.h"

#include "failures.h"

#include <algorithm>

namespace kv4usb {

namespace {

int digit_value(char c, unsigned base)
{
    int value = -1;
    if (c >= '0' && c <= '9')
        value = c - '0';
    else if (c >= 'a' && c <= 'f')
        value = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        value = c - 'A' + 10;
    return value < static_cast<int>(base) ? value : -1;
}

// An argument as the complaint quotes it: a long one only begins, so that a mistake stays readable.
std::string quoted(const std::string &text)
{
    constexpr std::size_t shown = 32;
    if (text.size() <= shown)
        return '\'' + text + '\'';
    return '\'' + text.substr(0, shown) + "...' (" + std::to_string(text.size()) + " characters)";
}

} // namespace

std::optional<uint64_t> parse_number(const std::string &text, uint64_t max)
{
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const unsigned base = hex ? 16 : 10;
    const std::size_t start = hex ? 2 : 0;
    if (text.size() == start)
        return std::nullopt;
    uint64_t value = 0;
    for (std::size_t i = start; i < text.size(); ++i) {
        const int digit = digit_value(text[i], base);
        if (digit < 0 || static_cast<uint64_t>(digit) > max || value > (max - static_cast<uint64_t>(digit)) / base)
            return std::nullopt;
        value = value * base + static_cast<uint64_t>(digit);
    }
    return value;
}

uint32_t arguments::number(std::size_t i, const char *name, uint32_t max) const
{
    const std::optional<uint64_t> value = parse_number(text(i), max);
    if (!value)
        fail(std::string(name) + ": " + quoted(text(i)) + " is not a number from 0 to " + std::to_string(max) +
             " (decimal, or hexadecimal after 0x)");
    return static_cast<uint32_t>(*value);
}

uint32_t arguments::option_number(const char *name, uint32_t fallback, uint32_t max) const
{
    const std::string prefix = std::string(name) + "=";
    uint32_t value = fallback;
    for (const std::string &option : options_) {
        if (option.compare(0, prefix.size(), prefix) != 0 && option != name)
            continue;
        const std::optional<uint64_t> given =
            option.size() > prefix.size() ? parse_number(option.substr(prefix.size()), max) : std::nullopt;
        if (!given || *given == 0)
            fail(prefix + "N: N must be a number from 1 to " + std::to_string(max) + ", not '" +
                 option.substr(std::min(option.size(), prefix.size())) + "'");
        value = static_cast<uint32_t>(*given);
    }
    return value;
}

std::vector<uint8_t> arguments::hex_bytes(std::size_t i, const char *name, std::size_t max) const
{
    const std::string &digits = text(i);
    std::vector<uint8_t> bytes;
    for (std::size_t at = 0; at + 1 < digits.size() && bytes.size() < max; at += 2) {
        const int high = digit_value(digits[at], 16);
        const int low = digit_value(digits[at + 1], 16);
        if (high < 0 || low < 0)
            break;
        bytes.push_back(static_cast<uint8_t>(high << 4 | low));
    }
    if (digits.empty() || bytes.size() * 2 != digits.size())
        fail(std::string(name) + ": " + quoted(digits) + " is not up to " + std::to_string(max) +
             " bytes as pairs of hex digits");
    return bytes;
}

void arguments::fail(const std::string &message) const { throw usage_error(command_, message); }

} // namespace kv4usb
