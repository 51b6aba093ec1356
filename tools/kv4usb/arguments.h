// A command's arguments, read with the command's name at hand so that a bad one becomes a usage
// error of that command.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kv4usb {

// Decimal, or hexadecimal after "0x"/"0X"; nothing else (no sign, no spaces), at most max.
std::optional<uint64_t> parse_number(const std::string &text, uint64_t max);

class arguments {
  public:
    // options: the command's own options as given ("--count=5").
    arguments(std::string command, std::vector<std::string> values, std::vector<std::string> options = {})
        : command_(std::move(command)), values_(std::move(values)), options_(std::move(options))
    {
    }

    std::size_t size() const noexcept { return values_.size(); }
    const std::string &text(std::size_t i) const { return values_.at(i); }

    // Argument i as a number of at most max; name is its placeholder in the usage ("ADDRESS").
    uint32_t number(std::size_t i, const char *name, uint32_t max = UINT32_MAX) const;
    uint16_t port(std::size_t i) const { return static_cast<uint16_t>(number(i, "PORT", UINT16_MAX)); }
    // Option name=VALUE as a number from 1 to max (the last one given wins), or fallback when absent.
    uint32_t option_number(const char *name, uint32_t fallback, uint32_t max) const;
    // Argument i as hex digit pairs ("0a1B2c"), at most max bytes.
    std::vector<uint8_t> hex_bytes(std::size_t i, const char *name, std::size_t max) const;

    [[noreturn]] void fail(const std::string &message) const;

  private:
    std::string command_;
    std::vector<std::string> values_;
    std::vector<std::string> options_;
};

} // namespace kv4usb
