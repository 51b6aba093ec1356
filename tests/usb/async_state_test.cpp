// The asynchronous registration state seen by discovery, device events and sends. (What it
// answers before, during and after a registration is the asynchronous exchanges' tests'.)
#include "kv4usbcp.h"
#include "usb/async_state.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

void ignore_completion(uint16_t, const uint8_t *, uint16_t, int16_t, int16_t) {}

TEST(AsyncRegistrationState, WakeUpsRacingUnregistrationNeverTouchAClosedEvent)
{
    std::atomic<bool> stop{false};
    std::thread waker([&] {
        while (!stop.load())
            kv4::tkusb_platform_wake_io_thread();
    });
    for (int i = 0; i < 2000; ++i) {
        kv4::event_handle wake = kv4::event_create();
        kv4::set_async_registration(ignore_completion, wake);
        kv4::clear_async_registration();
        kv4::event_close(wake); // ASan catches a use after this
    }
    stop = true;
    waker.join();
}

} // namespace
