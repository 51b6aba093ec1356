// The asynchronous registration state seen by discovery, device events and sends.
#include "kv4usbcp.h"
#include "usb/async_state.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

void ignore_completion(uint16_t, const uint8_t *, uint16_t, int16_t, int16_t) {}

TEST(AsyncRegistrationState, NothingIsRegisteredBeforeOrAfterARegistration)
{
    EXPECT_EQ(kv4::tkusb_platform_asyncio_registered(), TKUSB_ASYNC_UNREGISTERED);
    kv4::tkusb_platform_wake_io_thread(); // nothing to wake: harmless
    kv4::event_handle wake = kv4::event_create();
    ASSERT_TRUE(kv4::set_async_registration(ignore_completion, wake));
    EXPECT_FALSE(kv4::set_async_registration(ignore_completion, wake));
    EXPECT_EQ(kv4::tkusb_platform_asyncio_registered(), 0);
    EXPECT_EQ(kv4::async_callback(), &ignore_completion);
    kv4::tkusb_platform_wake_io_thread();
    EXPECT_TRUE(kv4::event_is_set(wake));
    kv4::clear_async_registration();
    kv4::event_reset(wake);
    kv4::tkusb_platform_wake_io_thread();
    EXPECT_FALSE(kv4::event_is_set(wake));
    EXPECT_EQ(kv4::tkusb_platform_asyncio_registered(), TKUSB_ASYNC_UNREGISTERED);
    kv4::event_close(wake);
}

TEST(AsyncRegistrationState, WakeUpsRacingUnregistrationNeverTouchAClosedEvent)
{
    std::atomic<bool> stop{false};
    std::thread waker([&] {
        while (!stop.load())
            kv4::tkusb_platform_wake_io_thread();
    });
    for (int i = 0; i < 2000; ++i) {
        kv4::event_handle wake = kv4::event_create();
        ASSERT_TRUE(kv4::set_async_registration(ignore_completion, wake));
        kv4::clear_async_registration();
        kv4::event_close(wake); // ASan catches a use after this
    }
    stop = true;
    waker.join();
}

} // namespace
