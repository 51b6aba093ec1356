// The port registry: numbering, order, lookups, the platform lock and device locks.
#include "kv4usbcp.h"
#include "platform/platform.h"
#include "usb/registry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

// Registers a new device object with this serial (and path).
kv4::win32_device *enrol(const char *serial, const char *path = nullptr)
{
    auto *device = new kv4::win32_device;
    std::strcpy(device->serial_key, serial);
    if (path) {
        device->path = static_cast<char *>(std::malloc(std::strlen(path) + 1));
        std::strcpy(device->path, path);
    }
    return kv4::tkusb_platform_register(device);
}

class Registry : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(tkcmdsetUSB_init(), 0); }
    void TearDown() override { tkcmdsetUSB_shutdown_all(); }
};

// The same serial, long ones included, maps back to the object it was registered with and takes
// no number; a 256th device is refused.
TEST_F(Registry, PortsAreHandedOutInOrderOfFirstRegistrationAndFoundBySerialOrPath)
{
    kv4::win32_device *a = enrol("A");
    kv4::win32_device *b = enrol("B");
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(a->port, 0);
    EXPECT_EQ(b->port, 1);
    EXPECT_EQ(enrol("A"), a);
    EXPECT_EQ(enrol("C")->port, 2);
    EXPECT_EQ(kv4::tkusb_platform_get_device(1), b);
    EXPECT_EQ(kv4::tkusb_platform_get_device(3), nullptr);
    kv4::win32_device *first = enrol("KV4-0000012345");
    EXPECT_NE(enrol("KV4-0000012399"), first);
    EXPECT_EQ(enrol("KV4-0000012345"), first);

    // Serial lookup is exact, path lookup ignores case.
    kv4::win32_device *lower = enrol("abc123", "\\\\?\\hid#vid_1&pid_2#a");
    kv4::win32_device *upper = enrol("ABC123");
    kv4::win32_device *longer = enrol("abc1234");
    EXPECT_NE(lower, upper);
    EXPECT_EQ(kv4::tkusb_platform_find_by_serial("abc123"), lower);
    EXPECT_EQ(kv4::tkusb_platform_find_by_serial("ABC123"), upper);
    EXPECT_EQ(kv4::tkusb_platform_find_by_serial("abc1234"), longer);
    EXPECT_EQ(kv4::tkusb_platform_find_by_serial("abc12"), nullptr);
    EXPECT_EQ(kv4::tkusb_platform_find_by_path("\\\\?\\HID#VID_1&PID_2#A"), lower);
    EXPECT_EQ(kv4::tkusb_platform_find_by_path("\\\\?\\hid#vid_1&pid_2#"), nullptr);
    EXPECT_EQ(kv4::tkusb_platform_find_by_path(""), nullptr); // devices without a path never match

    for (int i = 8; i < 255; ++i)
        ASSERT_NE(enrol(std::to_string(i).c_str()), nullptr) << i;
    EXPECT_EQ(enrol("one too many"), nullptr);
    EXPECT_EQ(kv4::tkusb_platform_get_device(254)->port, 254);
    EXPECT_EQ(kv4::port_counter(), 255);
}

TEST_F(Registry, ConcurrentRegistrationsOfOneSerialYieldOneDevice)
{
    std::atomic<kv4::win32_device *> seen[4] = {};
    std::thread threads[4];
    for (int t = 0; t < 4; ++t)
        threads[t] = std::thread([&seen, t] {
            for (int i = 0; i < 50; ++i) {
                kv4::win32_device *device = enrol(std::to_string(i).c_str());
                if (i == 7)
                    seen[t] = device;
            }
        });
    for (auto &thread : threads)
        thread.join();
    EXPECT_EQ(kv4::port_counter(), 50);
    for (auto &device : seen)
        EXPECT_EQ(device.load(), seen[0].load());
    for (uint16_t port = 0; port < 50; ++port)
        ASSERT_NE(kv4::tkusb_platform_get_device(port), nullptr);
}

TEST_F(Registry, HostLockIsReentrantAndHoldsOffOtherThreadsLookups)
{
    enrol("A");
    ASSERT_EQ(tkcmdsetUSB_lock(), 0);
    ASSERT_EQ(tkcmdsetUSB_lock(), 0);
    EXPECT_NE(kv4::tkusb_platform_get_device(0), nullptr); // own lookups still work
    std::atomic<bool> looked_up{false};
    std::thread other([&] {
        kv4::tkusb_platform_get_device(0);
        looked_up = true;
    });
    ASSERT_EQ(tkcmdsetUSB_unlock(), 0);
    kv4::sleep_ms(20); // give the other thread a chance to get past the lock if it wrongly could
    EXPECT_FALSE(looked_up.load());
    ASSERT_EQ(tkcmdsetUSB_unlock(), 0);
    other.join();
    EXPECT_TRUE(looked_up.load());
    EXPECT_EQ(tkcmdsetUSB_unlock(), TKCMDSET_MUTEX_FAILED_ERR); // released more often than taken
}

// The device lock exists only while the device is open, is reentrant, and a close on another
// thread waits for its holder, then leaves every waiter a code rather than a dead lock.
TEST_F(Registry, DeviceLockIsReentrantAndACloseOnAnotherThreadWaitsForTheHolder)
{
    kv4::win32_device *device = enrol("A");
    EXPECT_EQ(device->lock(), TKCMDSET_MUTEX_FAILED_ERR); // never opened
    EXPECT_EQ(device->close(), 0);
    EXPECT_EQ(device->close(), 0);   // closing twice is harmless
    device->device_lock_live = true; // as a successful open leaves it
    ASSERT_EQ(device->lock(), 0);
    ASSERT_EQ(device->lock(), 0);
    EXPECT_EQ(device->unlock(), 0);
    std::atomic<bool> closed{false};
    std::thread closer([&] {
        device->close();
        closed = true;
    });
    std::atomic<int> waiter_result{1};
    std::thread waiter([&] { waiter_result = device->lock(); });
    kv4::sleep_ms(20);
    EXPECT_FALSE(closed.load());
    // The holder closes too (as a failed transfer does), then releases the lock it holds.
    EXPECT_EQ(device->close(), 0);
    EXPECT_EQ(device->unlock(), TKCMDSET_MUTEX_FAILED_ERR);
    closer.join();
    waiter.join();
    EXPECT_TRUE(closed.load());
    EXPECT_EQ(waiter_result.load(), TKCMDSET_MUTEX_FAILED_ERR);
    EXPECT_EQ(device->lock(), TKCMDSET_MUTEX_FAILED_ERR);
}

} // namespace
