// Starting and stopping the library, the host's lock, what each state answers, and the version
// gate. Discovery and the registry have tests of their own; these register devices by hand.
#include "api/lifecycle.h"
#include "kv4usbcp.h"
#include "platform/platform.h"
#include "usb/registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

namespace {

kv4::win32_device *register_device(const char *serial)
{
    auto *device = new kv4::win32_device;
    std::strcpy(device->serial_key, serial);
    return kv4::tkusb_platform_register(device);
}

class Lifecycle : public ::testing::Test {
  protected:
    void TearDown() override { tkcmdsetUSB_shutdown_all(); }
};

// Before initialisation and after shutdown_all there is no lock and no port.
TEST_F(Lifecycle, ShutdownClosesOnePortShutdownAllForgetsEveryPortAndTheLockAndInitStartsAfresh)
{
    tkcmdsetUSB_shutdown_all();
    EXPECT_EQ(tkcmdsetUSB_lock(), TKCMDSET_MUTEX_FAILED_ERR);
    EXPECT_EQ(tkcmdsetUSB_unlock(), TKCMDSET_MUTEX_FAILED_ERR);
    EXPECT_EQ(tkcmdsetUSB_get_dll_version(), 770);
    ASSERT_EQ(tkcmdsetUSB_init(), 0);
    EXPECT_EQ(tkcmdsetUSB_lock(), 0);
    EXPECT_EQ(tkcmdsetUSB_unlock(), 0);
    kv4::win32_device *device = register_device("A1");
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(tkcmdsetUSB_shutdown(device->port), 0);
    EXPECT_EQ(kv4::tkusb_platform_get_device(device->port), device); // closed, still registered
    EXPECT_FALSE(device->is_open.load());
    EXPECT_EQ(tkcmdsetUSB_shutdown(device->port + 1), TKUSB_INVALID_PORT_ERR);

    EXPECT_EQ(tkcmdsetUSB_shutdown_all(), 0);
    EXPECT_EQ(tkcmdsetUSB_lock(), TKCMDSET_MUTEX_FAILED_ERR);
    EXPECT_EQ(tkcmdsetUSB_shutdown(0), TKUSB_INVALID_PORT_ERR);
    EXPECT_EQ(kv4::tkusb_platform_register(new kv4::win32_device), nullptr); // no lock, not registered

    // A second initialisation tears the first down and numbers ports from 0 again.
    ASSERT_EQ(tkcmdsetUSB_init(), 0);
    register_device("A1");
    register_device("A2");
    ASSERT_EQ(tkcmdsetUSB_init(), 0);
    EXPECT_EQ(kv4::port_counter(), 0);
    EXPECT_EQ(kv4::tkusb_platform_get_device(0), nullptr);
    EXPECT_EQ(register_device("B1")->port, 0);
}

TEST(VersionGate, ClassifiesWindowsVersionsAndRefusesOnlyTheClassesItShould)
{
    const std::pair<uint16_t, bool> cases[] = {{0x0000, false}, {0x0050, false}, {0x0101, false}, {0x0102, false},
                                               {0x0200, false}, {0x020A, false}, {0x020B, true},  {0x0100, true},
                                               {0x0103, true},  {0x0104, true},  {0x0105, true},  {0x0107, true},
                                               {0x0108, true},  {0x0300, true}};
    for (const auto &[version_class, accepted] : cases)
        EXPECT_EQ(kv4::os_version_accepted(version_class), accepted) << std::hex << version_class;
    // The running system passes the gate, whatever it is.
    EXPECT_TRUE(kv4::os_version_accepted(kv4::os_version_class()));

    const std::tuple<uint32_t, uint32_t, uint32_t, char, uint16_t> windows[] = {
        {1, 4, 0, 'B', 0x0108}, {1, 4, 0, 'C', 0x0108},  {1, 4, 0, ' ', 0x0101}, {1, 4, 10, 'A', 0x0104},
        {1, 4, 10, 0, 0x0103},  {1, 4, 90, 'A', 0x0105}, {1, 4, 3, 'A', 0x0100}, {1, 5, 0, 'B', 0x0100},
        {2, 5, 0, 0, 0x0107},   {2, 5, 1, 0, 0x0108},    {2, 10, 0, 0, 0x0108},  {0, 3, 1, 0, 0x0100},
        {3, 10, 0, 0, 0x0100},
    };
    for (const auto &[platform_id, major, minor, mark, version_class] : windows)
        EXPECT_EQ(kv4::classify_windows_version(platform_id, major, minor, mark), version_class)
            << platform_id << ' ' << major << '.' << minor << " '" << mark << '\'';
}

} // namespace
