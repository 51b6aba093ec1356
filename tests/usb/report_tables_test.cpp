// Report tables: widening by usage, selection of the smallest report that holds a length, and
// the transfer length.
#include "kv4usbcp.h"
#include "usb/report_tables.h"

#include <gtest/gtest.h>

namespace {

using kv4::report_entry;

report_entry selected(const kv4::usb_device &device, uint8_t selector, uint16_t length, int16_t expect = 0)
{
    report_entry entry{0xEE, 0xEEEE, 0xEEEE};
    EXPECT_EQ(kv4::select_report(device, selector, length, &entry), expect) << "length " << length;
    return entry;
}

TEST(ReportSelection, ChoosesTheSmallestReportThatHoldsTheLength)
{
    kv4::usb_device device;
    kv4::add_report(device, kv4::report_input, 0x10, 1, 20);
    kv4::add_report(device, kv4::report_input, 0x11, 2, 60);
    EXPECT_EQ(selected(device, kv4::report_input, 20).report_id, 1);
    EXPECT_EQ(selected(device, kv4::report_input, 0).report_id, 1);
    EXPECT_EQ(selected(device, kv4::report_input, 21).report_id, 2);
    EXPECT_EQ(selected(device, kv4::report_input, 60).size, 60);
    EXPECT_EQ(selected(device, kv4::report_input, 61, TKUSB_TOOLONG_REPORT_ERR).size, 0xFFFF);
}

TEST(ReportSelection, EqualSizesGoToTheEarliestAndTheLargestSizeIsNeverChosen)
{
    kv4::usb_device device;
    kv4::add_report(device, kv4::report_output, 0x20, 7, 64);
    kv4::add_report(device, kv4::report_output, 0x21, 8, 64);
    kv4::add_report(device, kv4::report_output, 0x22, 9, 0xFFFF);
    EXPECT_EQ(selected(device, kv4::report_output, 10).report_id, 7);
    selected(device, kv4::report_output, 65, TKUSB_TOOLONG_REPORT_ERR);
}

TEST(ReportSelection, EmptyTablesAndInvalidSelectorsFail)
{
    kv4::usb_device device;
    kv4::add_report(device, kv4::report_input, 1, 1, 20);
    selected(device, kv4::report_output, 1, TKUSB_TOOLONG_REPORT_ERR);
    report_entry untouched{3, 4, 5};
    EXPECT_EQ(kv4::select_report(device, 3, 1, &untouched), TKUSB_TOOLONG_REPORT_ERR);
    EXPECT_EQ(untouched.report_id, 3);
    EXPECT_EQ(untouched.size, 5);
    EXPECT_EQ(kv4::add_report(device, 3, 1, 1, 1), TKUSB_TOOLONG_REPORT_ERR);
}

TEST(ReportTables, OneEntryPerUsageKeepsTheLargestCountAndItsReportId)
{
    kv4::usb_device growing, shrinking, tied;
    kv4::add_report(growing, kv4::report_feature, 5, 1, 8);
    kv4::add_report(growing, kv4::report_feature, 5, 2, 40);
    kv4::add_report(shrinking, kv4::report_feature, 5, 1, 40);
    kv4::add_report(shrinking, kv4::report_feature, 5, 2, 8);
    kv4::add_report(tied, kv4::report_feature, 5, 1, 40);
    kv4::add_report(tied, kv4::report_feature, 5, 2, 40);
    for (auto *device : {&growing, &shrinking, &tied})
        EXPECT_EQ(device->feature_reports.count(), 1);
    EXPECT_EQ(growing.feature_reports.at(0)->report_id, 2);
    EXPECT_EQ(shrinking.feature_reports.at(0)->report_id, 1);
    EXPECT_EQ(tied.feature_reports.at(0)->report_id, 1);
    EXPECT_EQ(growing.feature_reports.at(0)->size, 40);
    EXPECT_EQ(shrinking.feature_reports.at(0)->size, 40);
}

TEST(ReportTables, AFullTableTakesNoNewUsageButStillWidens)
{
    kv4::usb_device device;
    for (uint16_t usage = 0; usage < 300; ++usage)
        EXPECT_EQ(kv4::add_report(device, kv4::report_input, usage, 1, 10), 0);
    EXPECT_EQ(device.input_reports.count(), 255);
    kv4::add_report(device, kv4::report_input, 3, 9, 90);
    EXPECT_EQ(selected(device, kv4::report_input, 50).report_id, 9);
    selected(device, kv4::report_input, 91, TKUSB_TOOLONG_REPORT_ERR);
}

TEST(TransferLength, IsOnePlusTheLargestReportOfAnyDirection)
{
    kv4::usb_device device;
    EXPECT_EQ(kv4::compute_transfer_length(device), 1u);
    kv4::add_report(device, kv4::report_input, 1, 1, 20);
    kv4::add_report(device, kv4::report_output, 1, 2, 60);
    kv4::add_report(device, kv4::report_feature, 1, 3, 500);
    EXPECT_EQ(kv4::compute_transfer_length(device), 501u);
    kv4::add_report(device, kv4::report_output, 2, 4, 0xFFFF);
    EXPECT_EQ(kv4::compute_transfer_length(device), 0x10000u); // seen, not wrapped
}

TEST(MaxReportSize, IsTheTransferLengthLessOneOrZero)
{
    kv4::win32_device device;
    uint16_t size = 77;
    EXPECT_EQ(kv4::get_max_report_size(&device, &size), 0);
    EXPECT_EQ(size, 0);
    device.transfer_length = 65;
    EXPECT_EQ(kv4::get_max_report_size(&device, &size), 0);
    EXPECT_EQ(size, 64);
    EXPECT_EQ(kv4::get_max_report_size(nullptr, &size), TKUSB_INVALID_PORT_ERR);
}

} // namespace
