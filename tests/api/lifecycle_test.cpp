// Starting and stopping the library, the host's lock, and what each state answers.
#include "api/lifecycle.h"
#include "kv4usbcp.h"
#include "platform/platform.h"
#include "usb/registry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>

namespace {

kv4::win32_device *register_device(const char *serial)
{
    auto *device = new kv4::win32_device;
    std::strcpy(device->serial_key, serial);
    std::strcpy(device->serial_number, serial);
    return kv4::tkusb_platform_register(device);
}

class Lifecycle : public ::testing::Test {
protected:
    void TearDown() override { tkcmdsetUSB_shutdown_all(); }
};

TEST_F(Lifecycle, BeforeInitialisationPortOperationsFailAndTheLockIsMissing)
{
    tkcmdsetUSB_shutdown_all();
    EXPECT_EQ(tkcmdsetUSB_shutdown(0), TKUSB_INVALID_PORT_ERR);
    EXPECT_EQ(tkcmdsetUSB_lock(), TKCMDSET_MUTEX_FAILED_ERR);
    EXPECT_EQ(tkcmdsetUSB_unlock(), TKCMDSET_MUTEX_FAILED_ERR);
    EXPECT_EQ(tkcmdsetUSB_shutdown_all(), 0);
    EXPECT_EQ(tkcmdsetUSB_shutdown_all(), 0);
    EXPECT_EQ(tkcmdsetUSB_get_dll_version(), 770);
}

TEST_F(Lifecycle, InitialisedLibraryHasAnEmptyRegistryAndALock)
{
    ASSERT_EQ(tkcmdsetUSB_init(), 0);
    EXPECT_EQ(tkcmdsetUSB_shutdown(0), TKUSB_INVALID_PORT_ERR);
    EXPECT_EQ(tkcmdsetUSB_lock(), 0);
    EXPECT_EQ(tkcmdsetUSB_unlock(), 0);
    EXPECT_EQ(tkcmdsetUSB_get_dll_version(), 770);
    EXPECT_EQ(kv4::port_counter(), 0);
}

TEST_F(Lifecycle, ShutdownOfOnePortClosesItButKeepsItRegistered)
{
    ASSERT_EQ(tkcmdsetUSB_init(), 0);
    kv4::win32_device *device = register_device("A1");
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(tkcmdsetUSB_shutdown(device->port), 0);
    EXPECT_EQ(kv4::tkusb_platform_get_device(device->port), device);
    EXPECT_EQ(device->is_open.load(), 0);
    EXPECT_EQ(tkcmdsetUSB_shutdown(device->port + 1), TKUSB_INVALID_PORT_ERR);
}

TEST_F(Lifecycle, SecondInitialisationTearsDownAndRestartsNumbering)
{
    ASSERT_EQ(tkcmdsetUSB_init(), 0);
    register_device("A1");
    register_device("A2");
    ASSERT_EQ(tkcmdsetUSB_init(), 0);
    EXPECT_EQ(kv4::tkusb_platform_get_device(0), nullptr);
    EXPECT_EQ(register_device("B1")->port, 0);
}

TEST_F(Lifecycle, ShutdownAllEndsTheLockAndForgetsEveryPort)
{
    ASSERT_EQ(tkcmdsetUSB_init(), 0);
    register_device("A1");
    EXPECT_EQ(tkcmdsetUSB_shutdown_all(), 0);
    EXPECT_EQ(tkcmdsetUSB_lock(), TKCMDSET_MUTEX_FAILED_ERR);
    EXPECT_EQ(tkcmdsetUSB_shutdown(0), TKUSB_INVALID_PORT_ERR);
    EXPECT_EQ(kv4::tkusb_platform_register(new kv4::win32_device), nullptr); // no lock, not registered
}

TEST(VersionGate, RefusesOnlyTheClassesItShould)
{
    EXPECT_FALSE(kv4::os_version_accepted(0x0000));
    EXPECT_FALSE(kv4::os_version_accepted(0x0050));
    EXPECT_FALSE(kv4::os_version_accepted(0x0101));
    EXPECT_FALSE(kv4::os_version_accepted(0x0102));
    EXPECT_FALSE(kv4::os_version_accepted(0x0200));
    EXPECT_FALSE(kv4::os_version_accepted(0x020A));
    EXPECT_TRUE(kv4::os_version_accepted(0x020B));
    for (uint16_t accepted : {0x0100, 0x0103, 0x0104, 0x0105, 0x0107, 0x0108, 0x0300})
        EXPECT_TRUE(kv4::os_version_accepted(accepted)) << std::hex << accepted;
}

TEST(VersionGate, ClassifiesWindowsVersions)
{
    using kv4::classify_windows_version;
    EXPECT_EQ(classify_windows_version(1, 4, 0, 'B'), 0x0108);
    EXPECT_EQ(classify_windows_version(1, 4, 0, 'C'), 0x0108);
    EXPECT_EQ(classify_windows_version(1, 4, 0, ' '), 0x0101);
    EXPECT_EQ(classify_windows_version(1, 4, 10, 'A'), 0x0104);
    EXPECT_EQ(classify_windows_version(1, 4, 10, 0), 0x0103);
    EXPECT_EQ(classify_windows_version(1, 4, 90, 'A'), 0x0105);
    EXPECT_EQ(classify_windows_version(1, 4, 3, 'A'), 0x0100);
    EXPECT_EQ(classify_windows_version(1, 5, 0, 'B'), 0x0100);
    EXPECT_EQ(classify_windows_version(2, 5, 0, 0), 0x0107);
    EXPECT_EQ(classify_windows_version(2, 5, 1, 0), 0x0108);
    EXPECT_EQ(classify_windows_version(2, 10, 0, 0), 0x0108);
    EXPECT_EQ(classify_windows_version(0, 3, 1, 0), 0x0100);
    EXPECT_EQ(classify_windows_version(3, 10, 0, 0), 0x0100);
    // The running system passes the gate, whatever it is.
    EXPECT_TRUE(kv4::os_version_accepted(kv4::os_version_class()));
}

} // namespace
