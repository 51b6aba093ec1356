// The Windows HID services where a monitor is not needed: paths that name nothing, and transfers
// tried on a named pipe, which the services open and drive like any overlapped file. Listing,
// identifying and driving real HID devices is the real-stack suite's part (tests/vm).
#ifdef _WIN32

#include "platform/hid_services.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <utility>

namespace kv4 {
hid_services &os_hid_services() noexcept;
}

namespace {

kv4::hid_services &os_hid() { return kv4::os_hid_services(); }

TEST(Win32Hid, UnknownPathsAreNeitherPresentNorOpened)
{
    const char missing[] = "\\\\?\\hid#vid_0000&pid_0000#0&0000&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    EXPECT_FALSE(os_hid().check_present(missing));
    EXPECT_FALSE(os_hid().check_present(""));
    for (kv4::hid_access access : {kv4::hid_access::probe, kv4::hid_access::transfer}) {
        uint32_t error = 0;
        EXPECT_EQ(os_hid().open(missing, access, &error), nullptr);
        EXPECT_NE(error, 0u);
    }
    EXPECT_EQ(os_hid().open(missing, kv4::hid_access::probe, nullptr), nullptr);
}

unsigned cancel_from_thread(void *context)
{
    auto *pending = static_cast<std::pair<kv4::hid_handle, kv4::hid_transfer *> *>(context);
    os_hid().cancel_transfer(pending->first, pending->second);
    return 0;
}

// A named pipe's server end, and its client end opened by the services as a device.
struct pipe_pair {
    explicit pipe_pair(const char *name)
        : server(CreateNamedPipeA(name, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED, PIPE_TYPE_BYTE, 1, 512, 512, 0,
                                  nullptr)),
          client(os_hid().open(name, kv4::hid_access::transfer, nullptr))
    {
    }
    ~pipe_pair()
    {
        if (client)
            os_hid().close(client);
        CloseHandle(server);
    }
    HANDLE server;
    kv4::hid_handle client;
};

// A read with nothing to read stays pending. Its start must clear a stale signal; a cancel from
// another thread (as the core's I/O thread makes) or a close must end it and signal its event, and
// its outcome must be readable after the close. Refusals fail at once and leave their reason.
TEST(Win32Hid, TransfersEndOnTheirEventAfterACancelOrClose)
{
    pipe_pair first("\\\\.\\pipe\\kv4usbcp-cancel"), second("\\\\.\\pipe\\kv4usbcp-close");
    ASSERT_TRUE(first.client && second.client);
    kv4::hid_transfer transfer;
    transfer.event = kv4::event_create();
    uint8_t buffer[16] = {};

    kv4::event_set(transfer.event);
    ASSERT_EQ(os_hid().start_read(first.client, buffer, sizeof buffer, &transfer), kv4::hid_io::pending);
    EXPECT_FALSE(kv4::event_is_set(transfer.event));
    EXPECT_EQ(os_hid().outcome(&transfer), kv4::hid_io::pending);
    std::pair<kv4::hid_handle, kv4::hid_transfer *> pending{first.client, &transfer};
    kv4::thread_handle canceller = kv4::thread_start(cancel_from_thread, &pending);
    ASSERT_TRUE(kv4::thread_join(canceller, 5000));
    kv4::thread_release(canceller);
    EXPECT_EQ(kv4::event_wait(transfer.event, 5000), 0);
    EXPECT_EQ(os_hid().outcome(&transfer), kv4::hid_io::failed);

    CloseHandle(first.server);
    first.server = INVALID_HANDLE_VALUE;
    EXPECT_EQ(os_hid().start_write(first.client, buffer, sizeof buffer, &transfer), kv4::hid_io::failed);
    EXPECT_NE(os_hid().last_error(first.client), 0u);
    EXPECT_EQ(os_hid().outcome(&transfer), kv4::hid_io::failed); // whatever kernel32 left in the record

    ASSERT_EQ(os_hid().start_read(second.client, buffer, sizeof buffer, &transfer), kv4::hid_io::pending);
    os_hid().close(second.client);
    second.client = nullptr;
    EXPECT_EQ(kv4::event_wait(transfer.event, 5000), 0);
    EXPECT_EQ(os_hid().outcome(&transfer), kv4::hid_io::failed);
    kv4::event_close(transfer.event);
}

} // namespace

#endif
