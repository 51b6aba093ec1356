// The hidraw backend's writes. A hidraw write blocks until the device takes the report, whatever
// O_NONBLOCK says; here the node is a socket whose peer takes nothing while its queue is full.
#include "platform/linux/hidraw.h"

#include <gtest/gtest.h>

#include <atomic>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

struct blocked_node {
    int ends[2] = {-1, -1}; // [0] the library's node, [1] the device
    blocked_node()
    {
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, ends), 0);
        fill();
    }
    ~blocked_node() { close(ends[1]); }
    void fill()
    {
        const uint8_t filler[256] = {};
        while (send(ends[0], filler, sizeof filler, MSG_DONTWAIT) > 0) {
        }
    }
    // Takes reports until one starts with id, or to_the_end until the node ends: false when the node
    // stays silent 10 s, or ends first.
    bool take(uint8_t id, bool to_the_end = false)
    {
        uint8_t report[256] = {};
        for (pollfd p{ends[1], POLLIN, 0}; poll(&p, 1, 10000) == 1;) {
            const ssize_t n = recv(ends[1], report, sizeof report, 0);
            if (n <= 0)
                return to_the_end && n == 0;
            if (!to_the_end && report[0] == id)
                return true;
        }
        return false;
    }
};

TEST(HidrawWrites, AReportTheDeviceDoesNotTakeNeitherBlocksTheCallerNorOutlivesItsCancel)
{
    kv4::hidraw_services hidraw;
    blocked_node node;
    auto *device = new kv4::hid_device_object;
    device->fd = node.ends[0];
    kv4::hid_transfer first, second;
    first.event = kv4::event_create();
    second.event = kv4::event_create();
    uint8_t a[64] = {0xA}, b[64] = {0xB};

    // Before the writer, a start blocked until the device took the report: the rescue lets it go.
    std::atomic<bool> returned{false};
    std::thread rescue([&] {
        for (int i = 0; i < 1000 && !returned.load(); ++i)
            kv4::sleep_ms(10);
        if (!returned.load())
            node.take(0xA);
    });
    const kv4::hid_io started = hidraw.start_write(device, a, sizeof a, &first);
    returned = true;
    rescue.join();
    ASSERT_EQ(started, kv4::hid_io::pending);
    EXPECT_EQ(hidraw.outcome(&first), kv4::hid_io::pending);
    // A cancel frees the record at once, though the kernel keeps its copy of the report; the next
    // write follows that one.
    hidraw.cancel_transfer(device, &first);
    EXPECT_EQ(hidraw.outcome(&first), kv4::hid_io::failed);
    EXPECT_EQ(kv4::event_wait(first.event, 0), 0);
    ASSERT_EQ(hidraw.start_write(device, b, sizeof b, &second), kv4::hid_io::pending);
    EXPECT_TRUE(node.take(0xB));
    EXPECT_EQ(kv4::event_wait(second.event, 10000), 0);
    EXPECT_EQ(hidraw.outcome(&second), kv4::hid_io::completed);

    // A close while the kernel holds a write returns at once; the writer closes the node after.
    node.fill();
    ASSERT_EQ(hidraw.start_write(device, a, sizeof a, &first), kv4::hid_io::pending);
    hidraw.close(device);
    EXPECT_EQ(hidraw.outcome(&first), kv4::hid_io::failed);
    EXPECT_TRUE(node.take(0, true));
    kv4::event_close(first.event);
    kv4::event_close(second.event);
}

} // namespace
