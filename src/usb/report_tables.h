// A port's three report tables, the choice of a report by length, and the transfer length.
#pragma once

#include "platform/hid_services.h"
#include "usb/usb_device.h"

#include <cstdint>

namespace kv4 {

// Selectors of the tables (TKUSB_REPORT_OUTPUT, _INPUT, _FEATURE).
constexpr uint8_t report_output = 0;
constexpr uint8_t report_input = 1;
constexpr uint8_t report_feature = 2;

// Fills the three tables from every value capability of each report type. Capabilities the
// parser refuses to deliver leave their table empty. Always 0.
int16_t build_report_tables(usb_device &device, const hid_caps &caps, hid_preparsed preparsed);

// Adds usage to a table, or widens its entry when size is larger than the entry's (on a tie the
// first report ID stays). A full table (255 entries) takes no new usage. TKUSB_TOOLONG_REPORT_ERR
// for an invalid selector.
int16_t add_report(usb_device &device, uint8_t selector, uint16_t usage, uint8_t report_id, uint16_t size);

// Copies the smallest report whose size holds length payload bytes (the earliest of equal
// sizes) into *entry. TKUSB_TOOLONG_REPORT_ERR when none does, the table is empty or the
// selector is invalid (then *entry is untouched).
int16_t select_report(const usb_device &device, uint8_t selector, uint16_t length, report_entry *entry);

// The same choice in a table of its own.
int16_t select_from(const tkusb_list<report_entry> &reports, uint16_t length, report_entry *entry);

// Raises *largest to the largest size in one table.
void raise_to_largest_report(const usb_device &device, uint8_t selector, uint16_t *largest);

// 1 + the largest report size of the three tables. Wider than 16 bits so that a report of 65535
// bytes, which no transfer could carry, is seen rather than wrapped to 0.
uint32_t compute_transfer_length(const usb_device &device);

// The port's maximum report size: transfer_length - 1, or 0 before the first open.
// TKUSB_INVALID_PORT_ERR for a missing device.
int16_t get_max_report_size(const win32_device *device, uint16_t *size);

} // namespace kv4
