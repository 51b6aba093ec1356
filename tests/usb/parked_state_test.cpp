// An open state parked with a transfer the system has not ended: it outlives its device and the
// library, and its late end touches only what the state itself owns.
#include "support/sim_fixture.h"
#include "usb/registry.h"

namespace {

class ParkedState : public kv4test::SimTest {
  protected:
    // Port 0's transaction times out and its cancel does not end: the port closes and its open
    // state is parked with the transfer still the system's.
    void park()
    {
        const char *closed = "------>USB DLL:**Closed Device Due to Cancel Timeout**";
        const std::size_t closes = debug.count(closed);
        kv4sim_set_fault(monitor, KV4SIM_FAULT_NO_ANSWER, 1);
        kv4sim_set_fault(monitor, KV4SIM_FAULT_CANCEL_STUCK, 1);
        EXPECT_EQ(kv4test::transact(0, 0x77, 30), TKUSB_READ_TIMEOUT_ERR);
        EXPECT_EQ(debug.count(closed), closes + 1);
        kv4sim_set_fault(monitor, KV4SIM_FAULT_NO_ANSWER, 0);
    }
};

// The transfer ends after everything that held the port is gone: a shutdown, a second init, a
// destroyed monitor. ASan sees any use of a freed event, by the bus or by the next shutdown's reaper.
TEST_F(ParkedState, ATransferEndingAfterTheShutdownTouchesNothingFreed)
{
    for (int way = 0; way < 3; ++way) {
        open_port();
        park();
        if (way == 0) {
            tkcmdsetUSB_shutdown_all();
            kv4sim_set_fault(monitor, KV4SIM_FAULT_CANCEL_STUCK, 0);
        } else if (way == 1) {
            ASSERT_EQ(tkcmdsetUSB_init(), 0);
            kv4sim_reset(); // ends every transfer at once
        } else {
            kv4sim_destroy(monitor);
            tkcmdsetUSB_shutdown_all();
            kv4sim_reset();
        }
        ASSERT_EQ(tkcmdsetUSB_init(), 0);
        tkcmdsetUSB_shutdown_all();
    }
}

// The reopened port has events of its own: the parked transfer's end neither signals nor resets
// them, and the port's transactions and exchanges complete.
TEST_F(ParkedState, ALateEndLeavesTheReopenedPortsEventsAlone)
{
    open_port();
    park();
    ASSERT_EQ(tkcmdsetUSB_reset_port(0), 0);
    kv4::port_ref live = kv4::tkusb_platform_get_device(0)->acquire();
    ASSERT_TRUE(live);
    kv4::event_reset(live->sync_transfer.event);
    kv4sim_set_fault(monitor, KV4SIM_FAULT_CANCEL_STUCK, 0);
    kv4::reap_orphans(10000); // returns once the parked transfer has ended
    EXPECT_FALSE(kv4::event_is_set(live->sync_transfer.event)) << "the parked transfer signalled the live port";
    EXPECT_FALSE(kv4::event_is_set(live->async_transfer.event)) << "the parked transfer signalled the live port";
    live.reset();
    EXPECT_EQ(status_command(), 0);
}

} // namespace
