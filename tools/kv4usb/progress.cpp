#include "progress.h"

#include "format.h"

#include <algorithm>
#include <iomanip>
#include <string>

namespace kv4usb {

namespace {
constexpr uint64_t bar_width = 32;

std::string rate_text(double bytes_per_second)
{
    return bytes_per_second >= 1024 * 1024 ? decimal(bytes_per_second / (1024 * 1024), 1) + " MiB/s"
                                           : decimal(bytes_per_second / 1024, 1) + " KiB/s";
}
} // namespace

progress::~progress()
{
    if (io_.out_is_terminal && done_ > 0 && done_ < total_)
        io_.out << '\n';
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
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    // The rate is padded to a fixed width, so that a shorter one overwrites all of a longer one.
    io_.out << '\r' << verb_ << " [" << std::string(filled, '#') << std::string(bar_width - filled, '.') << "] "
            << std::right << std::setw(3) << done_ * 100 / total_ << "%  " << done_ << '/' << total_ << " bytes  "
            << std::setw(12) << rate_text(static_cast<double>(done_) / std::max(seconds, 1e-6));
    if (done_ == total_)
        io_.out << '\n';
    io_.out.flush();
}

void progress::print_line() const { io_.out << verb_ << ' ' << done_ << '/' << total_ << " bytes\n"; }

} // namespace kv4usb
