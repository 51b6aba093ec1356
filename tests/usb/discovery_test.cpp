// Discovery, identification by serial number, opening and reopening of ports.
#include "support/sim_fixture.h"
#include "usb/discovery.h"
#include "usb/registry.h"

namespace {

using kv4test::SimTest;
using Ports = std::vector<uint16_t>;

class Discovery : public SimTest {};

TEST_F(Discovery, FindsMatchingMonitorsInAttachOrderWithACaseSensitiveFilter)
{
    EXPECT_EQ(find(), Ports{});
    kv4sim_monitor *a = attach_serial("A");
    kv4sim_monitor_desc keyboard{};
    keyboard.product = "Some Keyboard";
    attach(&keyboard);
    attach_serial("B");
    kv4sim_detach(a);
    ASSERT_EQ(kv4sim_reattach(a, 0), 0); // plugged in again: now the last
    EXPECT_EQ(find("quillon5"), Ports{});
    EXPECT_EQ(find(), (Ports{0, 1}));
    EXPECT_STREQ(kv4::tkusb_platform_get_device(0)->serial_number, "B");
    EXPECT_EQ(buffer_mode(1), TKUSB_BUFFER_MODE_RESPONSE);
    EXPECT_EQ(debug.count("---->No match to device Some Keyboard"), 2u);
    EXPECT_EQ(debug.count("---->String Match with Q5 Device"), 2u);
    EXPECT_EQ(find(""), (Ports{0, 1, 2}));
}

TEST_F(Discovery, ASecondDiscoveryKeepsPortsAndReopensOnlyTheClosedOnes)
{
    attach_serial("A");
    attach_serial("B");
    ASSERT_EQ(find(), (Ports{0, 1}));
    ASSERT_EQ(tkcmdsetUSB_shutdown(0), 0);
    EXPECT_EQ(status_command(), TKUSB_DEVICE_CLOSED_ERR);
    EXPECT_EQ(find(), (Ports{0, 1}));
    EXPECT_EQ(status_command(), 0);
    // Port 1 is held open by this library, so identification meets it busy and retries once.
    EXPECT_EQ(debug.count("---->**Error INVALID_HANDLE_VALUE RETRY** =  32"), 1u);
}

TEST_F(Discovery, UnpluggedAndReturnedMonitorsKeepTheirPortAlsoOnAnotherSocket)
{
    kv4sim_monitor *a = attach_serial("A");
    attach_serial("B");
    ASSERT_EQ(find(), (Ports{0, 1}));
    const std::string old_path = kv4sim_path(a);
    kv4sim_detach(a);
    tkcmdsetUSB_shutdown(0); // as the removal handling would
    ASSERT_EQ(kv4sim_reattach(a, 1), 0);
    ASSERT_NE(old_path, kv4sim_path(a));
    attach_serial("C");
    EXPECT_EQ(find(), (Ports{0, 1, 2}));
    EXPECT_EQ(kv4::tkusb_platform_find_by_path(kv4sim_path(a)), kv4::tkusb_platform_get_device(0));
    EXPECT_EQ(kv4::tkusb_platform_find_by_path(old_path.c_str()), nullptr);
}

TEST_F(Discovery, SerialsAreTrimmedAndLongOnesAreNotRegisteredTwice)
{
    for (const char *serial : {"  A7 \t", "   ", " ", "KV4-000000123"})
        attach_serial(serial);
    ASSERT_EQ(find(), (Ports{0, 1, 2}));
    EXPECT_STREQ(kv4::tkusb_platform_get_device(0)->serial_number, "A7");
    // Serials of white space only become empty and share one port.
    EXPECT_EQ(kv4::tkusb_platform_find_by_serial(""), kv4::tkusb_platform_get_device(1));
    EXPECT_STREQ(kv4::tkusb_platform_get_device(2)->serial_number, "KV4-00000");
    find();
    EXPECT_EQ(kv4::port_counter(), 3);
}

TEST_F(Discovery, AMonitorHeldByAnotherProgramIsSkippedAfterOneRetry)
{
    kv4sim_monitor *held = attach_serial("A");
    attach_serial("B");
    kv4sim_set_fault(held, KV4SIM_FAULT_HELD_OPEN, 1);
    EXPECT_EQ(find(), Ports{0});
    EXPECT_STREQ(kv4::tkusb_platform_get_device(0)->serial_number, "B");
    EXPECT_EQ(debug.count("---->**Error INVALID_HANDLE_VALUE RETRY** =  32"), 1u);
    kv4sim_set_fault(held, KV4SIM_FAULT_HELD_OPEN, 0);
    EXPECT_EQ(find(), (Ports{0, 1}));
}

TEST_F(Discovery, PortsAreWrittenWithoutACountAndAStoppedLibraryLeavesTheCountAlone)
{
    attach_serial("A");
    uint16_t ports[2] = {0xAAAA, 0xAAAA};
    EXPECT_EQ(tkcmdsetUSB_find_devices(kv4test::monitor_filter, nullptr, ports), 0);
    EXPECT_EQ(ports[0], 0);
    EXPECT_EQ(ports[1], 0xAAAA);
    tkcmdsetUSB_shutdown_all();
    uint8_t count = 9;
    EXPECT_EQ(tkcmdsetUSB_find_devices("Q", &count, ports), TKUSB_NO_PORT_INIT_ERR);
    EXPECT_EQ(count, 9);
}

TEST_F(Discovery, AMonitorThatCannotBeDescribedStaysRegisteredButClosedOrHasNoReports)
{
    kv4sim_monitor *broken = attach_serial("A");
    kv4sim_set_fault(broken, KV4SIM_FAULT_REFUSE_PREPARSED, 1);
    EXPECT_EQ(find(), Ports{});
    ASSERT_NE(kv4::tkusb_platform_get_device(0), nullptr);
    EXPECT_EQ(tkcmdsetUSB_reset_port(0), TKUSB_SYSTEM_IO_ERR);
    kv4sim_set_fault(broken, KV4SIM_FAULT_REFUSE_PREPARSED, 0);
    EXPECT_EQ(tkcmdsetUSB_reset_port(0), 0);
    EXPECT_EQ(find(), Ports{0});
    EXPECT_EQ(tkcmdsetUSB_reset_port(0), 0);
    // Each open after a failed one first releases what the failure left; one after a close does not.
    EXPECT_EQ(debug.count("------>USB DLL:**Closed Device Due to Invalid Handle**"), 2u);

    // Value capabilities that are refused leave empty report tables: no size, no report to send in.
    kv4sim_set_fault(attach_serial("B"), KV4SIM_FAULT_REFUSE_VALUE_CAPS, 1);
    ASSERT_EQ(find(), (Ports{0, 1}));
    uint16_t size = 1;
    EXPECT_EQ(tkcmdsetUSB_max_report_size(1, &size), 0);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(status_on(1), TKUSB_TOOLONG_REPORT_ERR);
}

TEST_F(Discovery, ALayoutWhoseTransfersTheSystemWouldRefuseIsDiagnosedAtOpen)
{
    open_port(kv4test::layout({20}, {20}, {40})); // transfers of 41 bytes, output reports of 21
    EXPECT_EQ(debug.count("-->USB DLL: transfer length 41, but output reports are 21 bytes and input reports 21"), 1u);
    EXPECT_EQ(kv4test::transact(0, 12, 1000), TKUSB_WRITE_FAILED_ERR);
}

TEST_F(Discovery, ResetReopensAPortUnlessItsMonitorIsGoneOrBusy)
{
    kv4sim_monitor *a = attach_serial("A");
    ASSERT_EQ(find(), Ports{0});
    EXPECT_EQ(tkcmdsetUSB_reset_port(0), 0); // open
    EXPECT_EQ(status_command(), 0);
    ASSERT_EQ(tkcmdsetUSB_shutdown(0), 0);
    EXPECT_EQ(tkcmdsetUSB_reset_port(0), 0); // closed
    EXPECT_EQ(status_command(), 0);

    kv4sim_detach(a);
    EXPECT_EQ(tkcmdsetUSB_reset_port(0), TKUSB_OPEN_DEVICE_ERR);
    EXPECT_EQ(status_command(), TKUSB_DEVICE_CLOSED_ERR);
    kv4sim_reattach(a, 0);
    kv4sim_set_fault(a, KV4SIM_FAULT_HELD_OPEN, 1);
    EXPECT_EQ(tkcmdsetUSB_reset_port(0), TKUSB_SYSTEM_IO_ERR);
    kv4sim_set_fault(a, KV4SIM_FAULT_HELD_OPEN, 0);
    EXPECT_EQ(tkcmdsetUSB_reset_port(0), 0);
}

// A monitor unplugged while it is probed answers its product string but not its serial. Taken
// for a monitor without serial, it got a second port, whose open then held it: its own port was
// never reopened again, by reset (its old socket is gone) or by discovery (the monitor is busy).
TEST_F(Discovery, AMonitorLeavingWhileItIsProbedIsNotRegisteredUnderAnEmptySerial)
{
    kv4sim_monitor *a = attach_serial("A");
    ASSERT_EQ(find(), Ports{0});
    kv4sim_detach(a);
    ASSERT_EQ(tkcmdsetUSB_shutdown(0), 0); // as the removal handling would
    ASSERT_EQ(kv4sim_reattach(a, 1), 0);
    // Out and in again on the same socket between the product string and the serial.
    kv4::set_debug_sink(
        [](void *leaving, const char *line) {
            if (std::string(line) == "---->String Match with Q5 Device") {
                kv4::set_debug_sink(nullptr, nullptr);
                kv4sim_detach(static_cast<kv4sim_monitor *>(leaving));
                kv4sim_reattach(static_cast<kv4sim_monitor *>(leaving), 0);
            }
        },
        a);
    find();
    EXPECT_EQ(find(), Ports{0});
    EXPECT_EQ(kv4::port_counter(), 1);
    EXPECT_EQ(status_command(), 0);
    EXPECT_EQ(tkcmdsetUSB_reset_port(0), 0);
}

} // namespace
