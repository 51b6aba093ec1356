// HID report descriptor parser: the raw descriptor a device hands out (HIDIOCGRDESC through
// hidraw) read into what the Windows HID parser reports through HidP_GetCaps and
// HidP_GetSpecificValueCaps, so that a port builds the same report tables on Linux as on Windows.
//
// The rules are Windows's, as Microsoft's HID parser documentation describes them and as Wine's
// hidparse reproduces them (Wine's HID tests run against Windows too):
//
// - Values and buttons. An Input, Output or Feature item is a button when it is an array item
//   (Variable bit clear) or when its Report Size is 1 bit; every other item is a value. The
//   logical range is not consulted: Windows reports a 0-bit field with a 0..1 range as a value and
//   every 1-bit variable field as a button. Constant items are not set apart: a constant item that
//   has a usage is reported like a data item (Windows does so for constant buttons). An item
//   without usage, or with usage 0, is padding and gives no capability; so does an item with a
//   Report Count of 0.
// - Usages on one value item. The item's fields take its usages in declaration order, one field
//   each, and the last usage used takes every remaining field; usages beyond the Report Count are
//   discarded. So N usages on Report Count C (N <= C) give N capabilities: the last usage with
//   count C - N + 1, every other one with count 1. Windows lists them last usage first (Usage X,
//   Usage Y on one item come back as Y, then X); items come in descriptor order.
// - A Usage Minimum/Maximum range is one capability whose usage is the minimum; Windows reports
//   its count as 1. A Usage after a range starts a new list, and a Usage Minimum or Maximum
//   replaces the list with the range, as Wine does: Windows documents no mixture of the two.
// - A 4-byte Usage carries its usage page in the high half; the capability's usage is the low
//   half. Usage Page items change nothing reported here: the library asks for every page.
// - Report IDs: a Report ID item sets the ID of the items after it; items before any have ID 0.
//   An ID must be 1..255.
// - Lengths. A report of one type and ID is 1 byte for the report ID (counted even when the
//   descriptor declares no IDs) plus the bits of every item of that type and ID, constant and
//   unnamed ones included, rounded up to whole bytes. A type's length is that of its longest
//   report, 0 when the descriptor has no item of that type.
// - Global state is Report Size, Report Count and Report ID (the other global items change nothing
//   reported here); Push saves it, Pop restores it. Local state (the usages) is cleared after every
//   main item. Designator, string and reserved-type items are skipped, and so are Long items (no
//   long item tag is defined).
// - Collections only nest: their kind and usage change nothing reported here. The items of every
//   top-level collection are read as one set, as hidraw offers the whole interface as one node
//   (Windows would offer each top-level collection as a device of its own); items outside any
//   collection count too.
//
// A device is untrusted input. One pass over the items, no recursion, every read checked against
// the length, every depth bounded, no allocation but the capability lists (at most
// max_value_caps entries each). These fail, with a short reason:
// - an empty descriptor, or one longer than max_report_descriptor_bytes (HID_MAX_DESCRIPTOR_SIZE);
// - an item that runs past the end;
// - an unknown main or global item tag, and Delimiter (aliased usages, which a monitor has no use
//   for);
// - Push nested deeper than 16, Pop without Push, collections nested deeper than 32, End
//   Collection without Collection, a collection left open at the end;
// - Report ID 0 or above 255, Report Count above 65535, more than 256 usages on one item;
// - a report longer than 65535 bytes (Report Size x Report Count is taken in 64 bits);
// - more than max_value_caps value capabilities of one report type: a monitor has a handful, the
//   library's report tables hold 255, and a partial table would choose reports wrongly.
// Linux's own parser refuses most of these (and Long items) before a hidraw node exists; this one
// does not rely on it.
#pragma once

#include "platform/hid_services.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kv4 {

constexpr std::size_t max_report_descriptor_bytes = 4096;
constexpr std::size_t max_value_caps = 255; // per report type

struct descriptor_caps {
    hid_caps caps;                        // lengths, and value capability counts that match values
    std::vector<hid_value_cap> values[3]; // by hid_report_type, in the order Windows lists them
    // The length of each output and feature report by its ID (ID byte included; 0 for none): the
    // bytes a report of that ID takes on the wire, where the library's buffers are as long as the
    // longest report.
    uint16_t output_bytes[256] = {};
    uint16_t feature_bytes[256] = {};
    // A Report ID item appears: the device sends every report with its ID in front, and without
    // one when none does.
    bool numbered = false;
};

// Parses length bytes at descriptor into out. On failure returns false, leaves out empty and
// stores a short reason (a static string) in *reason when reason is not null; else *reason is null.
// Throws only what the capability lists throw when memory runs out (std::bad_alloc).
bool parse_report_descriptor(const uint8_t *descriptor, std::size_t length, descriptor_caps &out,
                             const char **reason = nullptr);

} // namespace kv4
