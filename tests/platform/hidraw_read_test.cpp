// Input reports through the hidraw backend's read, with a socket that keeps report boundaries as
// the node does standing in for it: the buffer holds the report ID in byte 0 whether or not the
// device numbers its reports, as on Windows.
#include "platform/linux/hidraw.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

// Vendor page, 8 input and 8 output bytes; with "8501" a Report ID 1 item before them.
std::vector<uint8_t> descriptor(const std::string &report_id)
{
    const std::string hex = "0600ff0901a101150026ff0075089508" + report_id + "0901810209019102c0";
    std::vector<uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

// What a read of a 9-byte buffer holds once the device sent `sent`.
std::vector<uint8_t> read_back(const std::string &report_id, const std::vector<uint8_t> &sent)
{
    int ends[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends), 0);
    kv4::hidraw_services hidraw;
    auto *device = new kv4::hid_device_object;
    device->fd = ends[0];
    const std::vector<uint8_t> raw = descriptor(report_id);
    EXPECT_TRUE(kv4::parse_report_descriptor(raw.data(), raw.size(), device->descriptor));
    EXPECT_EQ(device->descriptor.caps.input_report_bytes, 9);

    std::vector<uint8_t> buffer(9, 0xEE);
    kv4::hid_transfer transfer;
    transfer.event = kv4::event_create();
    EXPECT_EQ(hidraw.start_read(device, buffer.data(), 9, &transfer), kv4::hid_io::pending);
    EXPECT_EQ(write(ends[1], sent.data(), sent.size()), static_cast<ssize_t>(sent.size()));
    EXPECT_EQ(kv4::event_wait(transfer.event, 10000), 0);
    EXPECT_EQ(hidraw.outcome(&transfer), kv4::hid_io::completed);
    hidraw.close(device);
    close(ends[1]);
    kv4::event_close(transfer.event);
    return buffer;
}

TEST(HidrawReads, AReportWithoutAnIdGetsAZeroInFrontAndANumberedOneStaysAsItCame)
{
    EXPECT_EQ(read_back("", {0x5A, 1, 2, 3, 4, 5, 6, 7}), (std::vector<uint8_t>{0, 0x5A, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(read_back("", {0x5A, 1}), (std::vector<uint8_t>{0, 0x5A, 1, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(read_back("8501", {1, 0x5A, 1, 2, 3, 4, 5, 6, 7}), (std::vector<uint8_t>{1, 0x5A, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(read_back("8501", {1, 0x5A}), (std::vector<uint8_t>{1, 0x5A, 0, 0, 0, 0, 0, 0, 0}));
}

} // namespace
