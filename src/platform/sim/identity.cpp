// A monitor's description turned into its identity, with the defaults a bare attach gets.
#include "platform/sim/monitor.h"

#include <cstdio>

namespace kv4::sim {

namespace {

// UTF-8 to UTF-16; a malformed sequence becomes U+FFFD, as a device's firmware would not care.
std::u16string widen(const char *text)
{
    std::u16string out;
    const auto *p = reinterpret_cast<const unsigned char *>(text);
    while (*p) {
        const int extra = *p < 0x80 ? 0 : (*p >> 5) == 6 ? 1 : (*p >> 4) == 14 ? 2 : (*p >> 3) == 30 ? 3 : -1;
        uint32_t code = extra == 0 ? *p : extra > 0 ? *p & (0x3Fu >> extra) : 0xFFFD;
        ++p;
        for (int i = 0; i < extra; ++i, ++p) {
            if ((*p & 0xC0) != 0x80) {
                code = 0xFFFD;
                break;
            }
            code = code << 6 | (*p & 0x3F);
        }
        if (code > 0x10FFFF)
            code = 0xFFFD;
        if (code >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
            code = 0xDC00 + (code & 0x3FF);
        }
        out += static_cast<char16_t>(code);
    }
    return out;
}

std::u16string text_or(const char *text, const char *fallback) { return widen(text ? text : fallback); }

void default_caps(std::vector<kv4sim_value_cap> &caps)
{
    const uint16_t sizes[] = {20, 60, 120, 500};
    for (uint8_t type : {KV4SIM_INPUT, KV4SIM_OUTPUT})
        for (uint8_t i = 0; i < 4; ++i)
            caps.push_back({type, static_cast<uint16_t>(i + 1), static_cast<uint8_t>(i + 1), sizes[i]});
    caps.push_back({KV4SIM_FEATURE, 5, 5, 32});
}

} // namespace

bool valid_description(const kv4sim_monitor_desc *desc) noexcept
{
    if (!desc)
        return true;
    if ((desc->ncaps && !desc->caps) || desc->ncaps > 0xFFFF)
        return false;
    for (std::size_t i = 0; i < desc->ncaps; ++i)
        if (desc->caps[i].type > KV4SIM_FEATURE || desc->caps[i].report_count == 0)
            return false;
    return true;
}

identity make_identity(const kv4sim_monitor_desc *desc, unsigned number)
{
    const kv4sim_monitor_desc none{};
    const kv4sim_monitor_desc &d = desc ? *desc : none;
    char serial[16];
    std::snprintf(serial, sizeof serial, "SIM%05u", number % 100000);
    identity out;
    out.product = text_or(d.product, "KV4 Quillon5 Monitor");
    out.serial = text_or(d.serial, serial);
    out.fw_version = text_or(d.fw_version, "SIM-FW 1.00");
    out.hw_version = text_or(d.hw_version, "SIM-HW A");
    out.loader_version = text_or(d.loader_version, "SIM-BL 1.00");
    out.product_id = d.product_id ? d.product_id : 1;
    if (d.ncaps)
        out.caps.assign(d.caps, d.caps + d.ncaps);
    else
        default_caps(out.caps);
    return out;
}

} // namespace kv4::sim
