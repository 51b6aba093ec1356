// HID report descriptor parser; the rules it follows are in the header.
#include "platform/linux/hid_report_descriptor.h"

#include <algorithm>

namespace kv4 {

namespace {

constexpr std::size_t max_usages = 256; // declared for one main item
constexpr unsigned max_push_depth = 16;
constexpr unsigned max_collection_depth = 32;
constexpr uint32_t max_report_bits = 65535u * 8;
constexpr uint8_t long_item_prefix = 0xFE;

// Item types and tags as the HID class definition numbers them.
enum item_type : unsigned { main_item = 0, global_item = 1, local_item = 2 };
enum main_tag : unsigned { input = 0x8, output = 0x9, collection = 0xA, feature = 0xB, end_collection = 0xC };
enum global_tag : unsigned { report_size = 0x7, report_id = 0x8, report_count = 0x9, push = 0xA, pop = 0xB };
enum local_tag : unsigned { usage = 0x0, usage_minimum = 0x1, usage_maximum = 0x2, delimiter = 0xA };
constexpr uint32_t variable_flag = 0x02; // in the data of Input, Output and Feature items

struct global_state {
    uint32_t report_size = 0;
    uint32_t report_count = 0;
    uint8_t report_id = 0;
};

struct usage_range {
    uint16_t first = 0;
    uint16_t last = 0;
};

class parser {
  public:
    explicit parser(descriptor_caps &out) : out_(out) {}
    const char *run(const uint8_t *data, std::size_t length);

  private:
    const char *item(unsigned type, unsigned tag, uint32_t value);
    const char *on_main(unsigned tag, uint32_t value);
    const char *on_global(unsigned tag, uint32_t value);
    const char *on_local(unsigned tag, uint32_t value);
    const char *fields(hid_report_type type, uint32_t flags);
    void reset_local()
    {
        usage_count_ = 0;
        range_ = false;
    }

    descriptor_caps &out_;
    global_state global_;
    global_state pushed_[max_push_depth];
    unsigned push_depth_ = 0;
    unsigned collection_depth_ = 0;
    usage_range usages_[max_usages];
    std::size_t usage_count_ = 0;
    bool range_ = false;                // usages_[0] is a Usage Minimum/Maximum range
    uint32_t report_bits_[3][256] = {}; // by report type and ID; 0 until the report has an item
    uint16_t report_bytes_[3] = {};     // by report type, the longest report
};

const char *parser::run(const uint8_t *data, std::size_t length)
{
    if (!data || length == 0)
        return "empty descriptor";
    if (length > max_report_descriptor_bytes)
        return "descriptor longer than 4096 bytes";
    std::size_t at = 0;
    while (at < length) {
        const uint8_t prefix = data[at];
        if (prefix == long_item_prefix) {
            if (length - at < 3 || length - at - 3 < data[at + 1])
                return "item runs past the end";
            at += 3 + data[at + 1];
            continue;
        }
        const std::size_t size = (prefix & 3) == 3 ? 4 : prefix & 3;
        if (length - at - 1 < size)
            return "item runs past the end";
        uint32_t value = 0;
        for (std::size_t i = 0; i < size; ++i)
            value |= uint32_t{data[at + 1 + i]} << (8 * i);
        at += 1 + size;
        if (const char *error = item((prefix >> 2) & 3, prefix >> 4, value))
            return error;
    }
    if (collection_depth_)
        return "collection left open";

    hid_caps &caps = out_.caps;
    caps.input_report_bytes = report_bytes_[static_cast<int>(hid_report_type::input)];
    caps.output_report_bytes = report_bytes_[static_cast<int>(hid_report_type::output)];
    caps.feature_report_bytes = report_bytes_[static_cast<int>(hid_report_type::feature)];
    caps.input_value_caps = static_cast<uint16_t>(out_.values[static_cast<int>(hid_report_type::input)].size());
    caps.output_value_caps = static_cast<uint16_t>(out_.values[static_cast<int>(hid_report_type::output)].size());
    caps.feature_value_caps = static_cast<uint16_t>(out_.values[static_cast<int>(hid_report_type::feature)].size());
    for (int id = 0; id < 256; ++id) {
        out_.output_bytes[id] =
            static_cast<uint16_t>((report_bits_[static_cast<int>(hid_report_type::output)][id] + 7) / 8);
        out_.feature_bytes[id] =
            static_cast<uint16_t>((report_bits_[static_cast<int>(hid_report_type::feature)][id] + 7) / 8);
    }
    return nullptr;
}

const char *parser::item(unsigned type, unsigned tag, uint32_t value)
{
    switch (type) {
    case main_item: return on_main(tag, value);
    case global_item: return on_global(tag, value);
    case local_item: return on_local(tag, value);
    default: return nullptr; // reserved type: nothing is defined for it
    }
}

const char *parser::on_main(unsigned tag, uint32_t value)
{
    const char *error = nullptr;
    switch (tag) {
    case input: error = fields(hid_report_type::input, value); break;
    case output: error = fields(hid_report_type::output, value); break;
    case feature: error = fields(hid_report_type::feature, value); break;
    case collection:
        if (++collection_depth_ > max_collection_depth)
            return "collections nested deeper than 32";
        break;
    case end_collection:
        if (collection_depth_ == 0)
            return "End Collection without Collection";
        --collection_depth_;
        break;
    default: return "unknown main item";
    }
    reset_local();
    return error;
}

const char *parser::on_global(unsigned tag, uint32_t value)
{
    switch (tag) {
    case report_size: global_.report_size = value; break;
    case report_id:
        if (value == 0 || value > 255)
            return "report ID outside 1..255";
        global_.report_id = static_cast<uint8_t>(value);
        out_.numbered = true;
        break;
    case report_count:
        if (value > 0xFFFF)
            return "report count above 65535";
        global_.report_count = value;
        break;
    case push:
        if (push_depth_ == max_push_depth)
            return "Push nested deeper than 16";
        pushed_[push_depth_++] = global_;
        break;
    case pop:
        if (push_depth_ == 0)
            return "Pop without Push";
        global_ = pushed_[--push_depth_];
        break;
    default:
        if (tag > pop)
            return "unknown global item";
        break; // usage page, logical and physical limits, units
    }
    return nullptr;
}

const char *parser::on_local(unsigned tag, uint32_t value)
{
    const uint16_t id = static_cast<uint16_t>(value); // a 4-byte usage has its page in the high half
    switch (tag) {
    case usage:
        if (range_)
            reset_local();
        if (usage_count_ == max_usages)
            return "more than 256 usages on one item";
        usages_[usage_count_++] = {id, id};
        break;
    case usage_minimum:
    case usage_maximum:
        if (!range_)
            usages_[0] = {};
        range_ = true;
        usage_count_ = 1;
        (tag == usage_minimum ? usages_[0].first : usages_[0].last) = id;
        break;
    case delimiter: return "Delimiter (aliased usages) not supported";
    default: break; // designators and strings
    }
    return nullptr;
}

// One Input, Output or Feature item: its bits go to its report, and a value item gives one
// capability per usage it uses, last usage first.
const char *parser::fields(hid_report_type type, uint32_t flags)
{
    const int t = static_cast<int>(type);
    uint32_t &bits = report_bits_[t][global_.report_id];
    if (bits == 0)
        bits = 8; // the report ID byte
    const uint64_t item_bits = uint64_t{global_.report_size} * global_.report_count;
    if (item_bits > max_report_bits - bits)
        return "report longer than 65535 bytes";
    bits += static_cast<uint32_t>(item_bits);
    report_bytes_[t] = std::max(report_bytes_[t], static_cast<uint16_t>((bits + 7) / 8));

    const bool button = !(flags & variable_flag) || global_.report_size == 1;
    if (button || global_.report_count == 0 || usage_count_ == 0)
        return nullptr;
    std::vector<hid_value_cap> &caps = out_.values[t];
    const std::size_t used = std::min<std::size_t>(usage_count_, global_.report_count);
    for (std::size_t i = used; i-- > 0;) {
        if (usages_[i].first == 0 && usages_[i].last == 0)
            continue; // padding
        if (caps.size() == max_value_caps)
            return "more than 255 value capabilities of one report type";
        const uint32_t count = range_ ? 1 : i + 1 == used ? global_.report_count - (used - 1) : 1;
        caps.push_back({usages_[i].first, global_.report_id, static_cast<uint16_t>(count)});
    }
    return nullptr;
}

} // namespace

bool parse_report_descriptor(const uint8_t *descriptor, std::size_t length, descriptor_caps &out, const char **reason)
{
    out = descriptor_caps{};
    const char *error = parser(out).run(descriptor, length);
    if (error)
        out = descriptor_caps{};
    if (reason)
        *reason = error;
    return !error;
}

} // namespace kv4
