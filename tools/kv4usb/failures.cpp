#include "failures.h"

#include "library.h"

#include <algorithm>

namespace kv4usb {

namespace {

// The library fills the whole buffer and leaves it unterminated when the text fills it.
template <std::size_t N> std::string library_text(void (*get)(int16_t, char *, uint16_t), int16_t code)
{
    char buffer[N];
    get(code, buffer, static_cast<uint16_t>(N));
    return std::string(buffer, std::find(buffer, buffer + N, '\0'));
}

} // namespace

void check(int16_t code, const std::string &what)
{
    if (code != 0)
        throw call_failure(what, code);
}

std::string error_name(int16_t code) { return library_text<36>(usb().get_error_name, code); }

void print_call_failure(std::ostream &err, const std::string &what, int16_t code)
{
    err << "error: " << what << " failed: " << code << ' ' << error_name(code) << " \u2014 "
        << library_text<140>(usb().get_error_text, code);
    // The monitor's word for a block outside its memories means little to whoever reads this.
    if (code == TKCSAFE_DATATAB_INVALID_ADDRESS)
        err << " (address outside the memory)";
    err << '\n';
}

} // namespace kv4usb
