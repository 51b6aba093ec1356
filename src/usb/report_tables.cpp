// Report tables: one entry per usage, each with the largest report count seen for it.
#include "usb/report_tables.h"

#include "kv4usbcp.h"

#include <new>
#include <vector>

namespace kv4 {

namespace {

tkusb_list<report_entry> *table(usb_device &device, uint8_t selector)
{
    switch (selector) {
    case report_output: return &device.output_reports;
    case report_input: return &device.input_reports;
    case report_feature: return &device.feature_reports;
    default: return nullptr;
    }
}

const tkusb_list<report_entry> *table(const usb_device &device, uint8_t selector)
{
    return table(const_cast<usb_device &>(device), selector);
}

void add_value_caps(usb_device &device, hid_preparsed preparsed, hid_report_type type, uint16_t count, uint8_t selector)
{
    if (count == 0)
        return;
    std::vector<hid_value_cap> caps;
    try {
        caps.resize(count);
    } catch (...) {
        return; // without memory the type contributes nothing, like a refusal by the parser
    }
    uint16_t delivered = count;
    if (!hid().get_value_caps(preparsed, type, caps.data(), &delivered))
        return;
    for (uint16_t i = 0; i < delivered && i < count; ++i)
        add_report(device, selector, caps[i].usage, caps[i].report_id, caps[i].report_count);
}

} // namespace

int16_t build_report_tables(usb_device &device, const hid_caps &caps, hid_preparsed preparsed)
{
    add_value_caps(device, preparsed, hid_report_type::input, caps.input_value_caps, report_input);
    add_value_caps(device, preparsed, hid_report_type::output, caps.output_value_caps, report_output);
    add_value_caps(device, preparsed, hid_report_type::feature, caps.feature_value_caps, report_feature);
    return 0;
}

int16_t add_report(usb_device &device, uint8_t selector, uint16_t usage, uint8_t report_id, uint16_t size)
{
    tkusb_list<report_entry> *reports = table(device, selector);
    if (!reports)
        return TKUSB_TOOLONG_REPORT_ERR;
    report_entry *entry = nullptr;
    for (report_entry *candidate : *reports)
        if (candidate->usage == usage) {
            entry = candidate;
            break;
        }
    if (!entry) {
        entry = new (std::nothrow) report_entry{0, usage, 0};
        if (!entry || !reports->append(entry)) {
            delete entry;
            return 0;
        }
    }
    if (entry->size < size)
        *entry = report_entry{report_id, usage, size};
    return 0;
}

int16_t select_report(const usb_device &device, uint8_t selector, uint16_t length, report_entry *entry)
{
    const tkusb_list<report_entry> *reports = table(device, selector);
    return reports ? select_from(*reports, length, entry) : TKUSB_TOOLONG_REPORT_ERR;
}

int16_t select_from(const tkusb_list<report_entry> &reports, uint16_t length, report_entry *entry)
{
    entry->size = 0xFFFF;
    bool found = false;
    for (const report_entry *candidate : reports)
        if (candidate->size >= length && candidate->size < entry->size) {
            *entry = *candidate;
            found = true;
        }
    return found ? 0 : TKUSB_TOOLONG_REPORT_ERR;
}

void raise_to_largest_report(const usb_device &device, uint8_t selector, uint16_t *largest)
{
    if (const tkusb_list<report_entry> *reports = table(device, selector))
        for (const report_entry *entry : *reports)
            if (entry->size > *largest)
                *largest = entry->size;
}

uint32_t compute_transfer_length(const usb_device &device)
{
    uint16_t largest = 0;
    raise_to_largest_report(device, report_output, &largest);
    raise_to_largest_report(device, report_input, &largest);
    raise_to_largest_report(device, report_feature, &largest);
    return uint32_t{largest} + 1;
}

int16_t get_max_report_size(const win32_device *device, uint16_t *size)
{
    if (!device)
        return TKUSB_INVALID_PORT_ERR;
    const uint16_t length = device->transfer_length.load();
    *size = length == 0 ? 0 : static_cast<uint16_t>(length - 1);
    return 0;
}

} // namespace kv4
