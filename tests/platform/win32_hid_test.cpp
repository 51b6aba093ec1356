// The Windows HID services against the machine's own HID devices. Which devices there are, and
// which of them the system lets us open, differs from machine to machine (under Wine: a mouse and
// a keyboard of its own), so each test works with whatever opens.
#ifdef _WIN32

#include "platform/hid_services.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <windows.h>

extern "C" {
#include <hidsdi.h>
}

#include <string>
#include <vector>

namespace kv4 {
hid_services &os_hid_services() noexcept;
}

namespace {

kv4::hid_services &os_hid() { return kv4::os_hid_services(); }

std::vector<std::string> listed_paths()
{
    std::vector<std::string> paths;
    auto collect = [](const char *path, void *context) {
        static_cast<std::vector<std::string> *>(context)->push_back(path);
    };
    EXPECT_TRUE(os_hid().list_paths(collect, &paths));
    return paths;
}

TEST(Win32Hid, ListedInterfacesArePresentAndNamed)
{
    for (const std::string &path : listed_paths()) {
        SCOPED_TRACE(path);
        EXPECT_FALSE(path.empty());
        EXPECT_TRUE(os_hid().check_present(path.c_str()));
    }
}

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

TEST(Win32Hid, ProbedDevicesIdentifyThemselvesOrSayWhyTheyCannotBeOpened)
{
    for (const std::string &path : listed_paths()) {
        SCOPED_TRACE(path);
        uint32_t error = 0;
        kv4::hid_handle handle = os_hid().open(path.c_str(), kv4::hid_access::probe, &error);
        if (!handle) {
            EXPECT_NE(error, 0u);
            continue;
        }
        uint16_t product_id = 0;
        EXPECT_TRUE(os_hid().product_id(handle, &product_id));
        kv4::hid_caps caps;
        kv4::hid_preparsed preparsed = os_hid().get_preparsed(handle);
        EXPECT_TRUE(preparsed && os_hid().get_caps(preparsed, &caps));
        os_hid().free_preparsed(preparsed);
        os_hid().close(handle);
    }
}

// The first listed device that opens for transfers and has input reports, with their length
// (report ID included); null when none does.
kv4::hid_handle open_for_transfers(uint16_t *input_length)
{
    for (const std::string &path : listed_paths()) {
        kv4::hid_handle handle = os_hid().open(path.c_str(), kv4::hid_access::transfer, nullptr);
        kv4::hid_preparsed preparsed = handle ? os_hid().get_preparsed(handle) : nullptr;
        HIDP_CAPS caps{};
        if (preparsed)
            HidP_GetCaps(reinterpret_cast<PHIDP_PREPARSED_DATA>(preparsed), &caps);
        os_hid().free_preparsed(preparsed);
        *input_length = caps.InputReportByteLength;
        if (*input_length != 0)
            return handle;
        if (handle)
            os_hid().close(handle);
    }
    return nullptr;
}

unsigned cancel_from_thread(void *handle)
{
    os_hid().cancel_io(static_cast<kv4::hid_handle>(handle));
    return 0;
}

// A read of an idle device stays pending. Its start must clear a stale signal, and a cancel from
// another thread (as the core's I/O thread does) or a close must end it and signal the event.
TEST(Win32Hid, TransfersEndOnTheirEventAndRefusalsFailAtOnce)
{
    uint16_t length = 0;
    kv4::hid_handle handle = open_for_transfers(&length);
    if (!handle)
        GTEST_SKIP() << "no HID device with input reports opens for transfers here";
    kv4::hid_transfer transfer;
    transfer.event = kv4::event_create();
    const uint8_t too_short[1] = {0};
    EXPECT_EQ(os_hid().start_write(handle, too_short, 1, &transfer), kv4::hid_io::failed);

    std::vector<uint8_t> buffer(length);
    kv4::event_set(transfer.event);
    ASSERT_EQ(os_hid().start_read(handle, buffer.data(), length, &transfer), kv4::hid_io::pending);
    EXPECT_FALSE(kv4::event_is_set(transfer.event));
    EXPECT_EQ(os_hid().outcome(handle, &transfer), kv4::hid_io::pending);
    kv4::thread_handle canceller = kv4::thread_start(cancel_from_thread, handle);
    ASSERT_TRUE(kv4::thread_join(canceller, 5000));
    kv4::thread_release(canceller);
    EXPECT_EQ(kv4::event_wait(transfer.event, 5000), 0);
    EXPECT_EQ(os_hid().outcome(handle, &transfer), kv4::hid_io::failed);

    ASSERT_EQ(os_hid().start_read(handle, buffer.data(), length, &transfer), kv4::hid_io::pending);
    os_hid().close(handle);
    EXPECT_EQ(kv4::event_wait(transfer.event, 5000), 0);
    kv4::event_close(transfer.event);
}

} // namespace

#endif
