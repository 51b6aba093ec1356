// libFuzzer target: the report descriptor parser on any bytes a device could send, checking what it
// promises besides not crashing: a reason exactly when it refuses and then nothing reported, value
// counts that match the lists and stay within max_value_caps, and a report length for every value.
#include "platform/linux/hid_report_descriptor.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    kv4::descriptor_caps out;
    const char *reason = nullptr;
    const bool parsed = kv4::parse_report_descriptor(data, size, out, &reason);
    const kv4::hid_caps &c = out.caps;
    const std::size_t lengths[] = {c.input_report_bytes, c.output_report_bytes, c.feature_report_bytes};
    const std::size_t counts[] = {c.input_value_caps, c.output_value_caps, c.feature_value_caps};
    bool kept = parsed == !reason && (!parsed || size <= kv4::max_report_descriptor_bytes);
    for (int type = 0; type < 3; ++type)
        kept = kept && counts[type] == out.values[type].size() && counts[type] <= kv4::max_value_caps &&
               (parsed ? lengths[type] > 0 || counts[type] == 0 : lengths[type] == 0);
    if (!kept)
        abort();
    return 0;
}
