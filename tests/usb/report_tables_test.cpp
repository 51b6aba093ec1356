// Report tables: widening by usage, selection of the smallest report that holds a length, and
// the transfer length.
#include "kv4usbcp.h"
#include "usb/report_tables.h"

#include <gtest/gtest.h>

#include <tuple>
#include <utility>

namespace {

using kv4::report_entry;

// The chosen report's ID and size, starting from {0xEE, 0xEEEE}.
std::pair<int, int> selected(const kv4::usb_device &device, uint8_t selector, uint16_t length, int16_t expect = 0)
{
    report_entry entry{0xEE, 0xEEEE, 0xEEEE};
    EXPECT_EQ(kv4::select_report(device, selector, length, &entry), expect) << "length " << length;
    return {entry.report_id, entry.size};
}

// Equal sizes go to the earliest report; a report of 0xFFFF bytes is never chosen; a table that is
// empty or unknown chooses nothing and leaves the entry alone.
TEST(ReportSelection, ChoosesTheSmallestReportThatHoldsTheLength)
{
    kv4::usb_device device;
    kv4::add_report(device, kv4::report_input, 0x10, 1, 20);
    kv4::add_report(device, kv4::report_input, 0x11, 2, 60);
    EXPECT_EQ(selected(device, kv4::report_input, 0), std::pair(1, 20));
    EXPECT_EQ(selected(device, kv4::report_input, 20), std::pair(1, 20));
    EXPECT_EQ(selected(device, kv4::report_input, 21), std::pair(2, 60));
    EXPECT_EQ(selected(device, kv4::report_input, 60), std::pair(2, 60));
    EXPECT_EQ(selected(device, kv4::report_input, 61, TKUSB_TOOLONG_REPORT_ERR), std::pair(0xEE, 0xFFFF));

    kv4::add_report(device, kv4::report_output, 0x20, 7, 64);
    kv4::add_report(device, kv4::report_output, 0x21, 8, 64);
    kv4::add_report(device, kv4::report_output, 0x22, 9, 0xFFFF);
    EXPECT_EQ(selected(device, kv4::report_output, 10), std::pair(7, 64));
    selected(device, kv4::report_output, 65, TKUSB_TOOLONG_REPORT_ERR);
    selected(device, kv4::report_feature, 1, TKUSB_TOOLONG_REPORT_ERR);
    EXPECT_EQ(selected(device, 3, 1, TKUSB_TOOLONG_REPORT_ERR), std::pair(0xEE, 0xEEEE));
    EXPECT_EQ(kv4::add_report(device, 3, 1, 1, 1), TKUSB_TOOLONG_REPORT_ERR);
}

// One entry per usage keeps the largest count and its report ID; a full table takes no new
// usage but still widens the ones it has.
TEST(ReportTables, OneEntryPerUsageWidensEvenWhenTheTableIsFull)
{
    kv4::usb_device growing, shrinking, tied;
    for (const auto &[device, first, second] : {std::tuple{&growing, 8, 40}, {&shrinking, 40, 8}, {&tied, 40, 40}}) {
        kv4::add_report(*device, kv4::report_feature, 5, 1, static_cast<uint16_t>(first));
        kv4::add_report(*device, kv4::report_feature, 5, 2, static_cast<uint16_t>(second));
        EXPECT_EQ(device->feature_reports.count(), 1);
        EXPECT_EQ(device->feature_reports.at(0)->size, 40);
    }
    EXPECT_EQ(growing.feature_reports.at(0)->report_id, 2);
    EXPECT_EQ(shrinking.feature_reports.at(0)->report_id, 1);
    EXPECT_EQ(tied.feature_reports.at(0)->report_id, 1);

    kv4::usb_device device;
    for (uint16_t usage = 0; usage < 300; ++usage)
        EXPECT_EQ(kv4::add_report(device, kv4::report_input, usage, 1, 10), 0);
    EXPECT_EQ(device.input_reports.count(), 255);
    kv4::add_report(device, kv4::report_input, 3, 9, 90);
    EXPECT_EQ(selected(device, kv4::report_input, 50), std::pair(9, 90));
    selected(device, kv4::report_input, 91, TKUSB_TOOLONG_REPORT_ERR);
}

// One more than the largest report of any direction, 0xFFFF seen and not wrapped; the maximum
// report size is one less, or 0.
TEST(TransferLength, IsOnePlusTheLargestReportOfAnyDirection)
{
    kv4::usb_device device;
    EXPECT_EQ(kv4::compute_transfer_length(device), 1u);
    kv4::add_report(device, kv4::report_input, 1, 1, 20);
    kv4::add_report(device, kv4::report_output, 1, 2, 60);
    kv4::add_report(device, kv4::report_feature, 1, 3, 500);
    EXPECT_EQ(kv4::compute_transfer_length(device), 501u);
    kv4::add_report(device, kv4::report_output, 2, 4, 0xFFFF);
    EXPECT_EQ(kv4::compute_transfer_length(device), 0x10000u);

    kv4::win32_device port;
    uint16_t size = 77;
    EXPECT_EQ(kv4::get_max_report_size(&port, &size), 0);
    EXPECT_EQ(size, 0);
    port.transfer_length = 65;
    EXPECT_EQ(kv4::get_max_report_size(&port, &size), 0);
    EXPECT_EQ(size, 64);
    EXPECT_EQ(kv4::get_max_report_size(nullptr, &size), TKUSB_INVALID_PORT_ERR);
}

} // namespace
