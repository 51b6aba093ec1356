// A monitor's description turned into its identity, with the defaults a bare attach gets.
#include "platform/sim/monitor.h"
#include "platform/text.h"

#include <cstdio>

namespace kv4::sim {

namespace {

std::u16string text_or(const char *text, const char *fallback) { return utf8_to_utf16(text ? text : fallback); }

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
