// HID report descriptor writer: short items only, each value in the fewest bytes that hold it.
#include "report_descriptor.h"

namespace kv4sim_uhid {

namespace {

// Item prefixes with the size bits clear: tag and type as the HID class definition numbers them.
constexpr uint8_t usage_page = 0x04, logical_minimum = 0x14, logical_maximum = 0x24, report_size = 0x74,
                  report_id = 0x84, report_count = 0x94;
constexpr uint8_t usage = 0x08;
constexpr uint8_t input = 0x80, output = 0x90, feature = 0xB0, collection = 0xA0, end_collection = 0xC0;
constexpr uint8_t data_variable_absolute = 0x02, application = 0x01;

class writer {
  public:
    // Usages, IDs and counts are unsigned; a four-byte usage would name a usage page as well,
    // and the layout's are 16-bit, so two bytes always do.
    void item(uint8_t prefix, uint32_t value) { put(prefix, value, value <= 0xFF ? 1 : 2); }
    // Logical limits are signed, so 255 takes two bytes: one byte 0xFF would read as -1.
    void limit(uint8_t prefix, int16_t value)
    {
        put(prefix, static_cast<uint32_t>(value), value >= -128 && value <= 127 ? 1 : 2);
    }
    std::vector<uint8_t> out;

  private:
    void put(uint8_t prefix, uint32_t value, int bytes)
    {
        out.push_back(static_cast<uint8_t>(prefix | bytes));
        for (int i = 0; i < bytes; ++i)
            out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
};

} // namespace

std::vector<uint8_t> report_descriptor(const std::vector<kv4sim_value_cap> &caps)
{
    static const uint8_t main_items[] = {input, output, feature};
    writer w;
    w.item(usage_page, 0xFF00);
    w.item(usage, 0x01);
    w.item(collection, application);
    w.limit(logical_minimum, 0);
    w.limit(logical_maximum, 0xFF);
    w.item(report_size, 8);
    for (const kv4sim_value_cap &cap : caps) {
        w.item(report_id, cap.report_id);
        w.item(usage, cap.usage);
        w.item(report_count, cap.report_count);
        w.item(main_items[cap.type], data_variable_absolute);
    }
    w.out.push_back(end_collection);
    return w.out;
}

} // namespace kv4sim_uhid
