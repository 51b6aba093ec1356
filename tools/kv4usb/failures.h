// How kv4usb reports what went wrong: a failed library call carries its result code, a usage
// error names the command whose usage to show, anything else is a sentence of its own.
#pragma once

#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>

namespace kv4usb {

// A library call returned a non-zero result code. what() says what was being done.
class call_failure : public std::runtime_error {
  public:
    call_failure(const std::string &what, int16_t code) : std::runtime_error(what), code_(code) {}
    int16_t code() const noexcept { return code_; }

  private:
    int16_t code_;
};

// A failure that is not a library result code (a file, a verify difference), worded in full.
class tool_failure : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The command line is wrong; command is the command whose usage applies ("" for the general one).
class usage_error : public std::runtime_error {
  public:
    usage_error(const std::string &command, const std::string &message) : std::runtime_error(message), command_(command)
    {
    }
    const std::string &command() const noexcept { return command_; }

  private:
    std::string command_;
};

// Throws call_failure unless code is 0.
void check(int16_t code, const std::string &what);

// The identifier of a result code ("TKUSB_READ_TIMEOUT_ERR").
std::string error_name(int16_t code);

// "error: <what> failed: <code> <IDENTIFIER> — <sentence>"
void print_call_failure(std::ostream &err, const std::string &what, int16_t code);

} // namespace kv4usb
