#include "progress.h"

#include <string>

namespace kv4usb {

namespace {
constexpr uint64_t bar_width = 32;
}

void progress::advance(uint64_t bytes)
{
    done_ += bytes;
    if (io_.out_is_terminal) {
        draw_bar();
        return;
    }
    // Plain lines only at each quarter of the way (and at the end), whatever the block size.
    const auto quarters = static_cast<unsigned>(done_ * 4 / total_);
    if (quarters > quarters_shown_) {
        quarters_shown_ = quarters;
        print_line();
    }
}

void progress::draw_bar() const
{
    const uint64_t filled = done_ * bar_width / total_;
    io_.out << '\r' << verb_ << " [" << std::string(filled, '#') << std::string(bar_width - filled, '.') << "] "
            << done_ << '/' << total_ << " bytes";
    if (done_ == total_)
        io_.out << '\n';
    io_.out.flush();
}

void progress::print_line() const { io_.out << verb_ << ' ' << done_ << '/' << total_ << " bytes\n"; }

} // namespace kv4usb
