// The model-driving half of a simulated monitor, shared by its transports.
#include "served_monitor.h"

#include "platform/platform.h"
#include "report_descriptor.h"

#include <iomanip>
#include <mutex>

namespace kv4sim_uhid {

std::string utf8(const std::u16string &text)
{
    char buffer[256];
    kv4::utf16_to_ansi(reinterpret_cast<const uint16_t *>(text.c_str()), buffer, sizeof buffer);
    return buffer;
}

served_monitor::served_monitor(unsigned number, uint16_t vendor_id, std::ostream &log)
    : number_(number), vendor_id_(vendor_id), log_(log), model_(kv4::sim::make_identity(nullptr, number)),
      descriptor_(report_descriptor(model_.id.caps))
{
}

bool served_monitor::answer_output(const uint8_t *report, std::size_t length, const uint8_t **input,
                                   std::size_t *input_length)
{
    if (verbose)
        log_ << "monitor " << number_ << " output report " << unsigned{length ? report[0] : 0u} << ", " << length
             << " bytes" << std::endl;
    if (length < 1 || quiet)
        return false;
    std::lock_guard<std::mutex> exchange(model_.exchange);
    const std::size_t answer_length = model_.respond(report + 1, model_.frame_length(report[0], length));
    if (!answer_length || !model_.input.push(model_.answer(), answer_length, {}, input, input_length))
        return false;
    model_.input.clear(); // sent at once: nothing waits in the model's queue
    if (verbose)
        log_ << "monitor " << number_ << " input report " << unsigned{(*input)[0]} << ", " << *input_length << " bytes"
             << std::endl;
    return true;
}

void served_monitor::take_feature(uint8_t report_id, const uint8_t *report, std::size_t length)
{
    features_[report_id].assign(report, report + length);
    log_ << "monitor " << number_ << " feature report " << std::hex << std::setfill('0');
    for (std::size_t i = 0; i < length; ++i)
        log_ << (i ? " " : "") << std::setw(2) << unsigned{report[i]};
    log_ << std::dec << std::setfill(' ') << std::endl;
}

const std::vector<uint8_t> *served_monitor::feature(uint8_t report_id) const
{
    const auto known = features_.find(report_id);
    return known == features_.end() ? nullptr : &known->second;
}

} // namespace kv4sim_uhid
