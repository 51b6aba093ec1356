// The Windows HID services against the system's own HID devices. Under Wine these are a mouse and
// a keyboard that Wine itself holds open, so the tests ask only what holds for any machine: what
// is listed is present and named, and opening either works or says why.
#ifdef _WIN32

#include "platform/hid_services.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kv4 {
hid_services &os_hid_services() noexcept;
}

namespace {

// A path of the HID interface class that no device has.
const char kMissingPath[] = "\\\\?\\hid#vid_0000&pid_0000#0&0000&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";

std::vector<std::string> listed_paths()
{
    std::vector<std::string> paths;
    auto collect = [](const char *path, void *context) {
        static_cast<std::vector<std::string> *>(context)->push_back(path);
    };
    EXPECT_TRUE(kv4::os_hid_services().list_paths(collect, &paths));
    return paths;
}

TEST(Win32Hid, ListedInterfacesArePresentAndNamed)
{
    for (const std::string &path : listed_paths()) {
        SCOPED_TRACE(path);
        EXPECT_FALSE(path.empty());
        EXPECT_TRUE(kv4::os_hid_services().check_present(path.c_str()));
    }
}

TEST(Win32Hid, ListedInterfacesOpenForProbingOrSayWhyNot)
{
    kv4::hid_services &hid = kv4::os_hid_services();
    for (const std::string &path : listed_paths()) {
        SCOPED_TRACE(path);
        uint32_t error = 0;
        kv4::hid_handle handle = hid.open(path.c_str(), kv4::hid_access::probe, &error);
        std::printf("%s -> %p error %u\n", path.c_str(), (void *)handle, error);
        if (!handle) {
            EXPECT_NE(error, 0u);
            continue;
        }
        uint16_t product_id = 0;
        std::printf(" pid %d\n", hid.product_id(handle, &product_id));
        hid.close(handle);
    }
}

TEST(Win32Hid, UnknownPathsAreNeitherPresentNorOpened)
{
    kv4::hid_services &hid = kv4::os_hid_services();
    EXPECT_FALSE(hid.check_present(kMissingPath));
    EXPECT_FALSE(hid.check_present(""));
    for (kv4::hid_access access : {kv4::hid_access::probe, kv4::hid_access::transfer}) {
        uint32_t error = 0;
        EXPECT_EQ(hid.open(kMissingPath, access, &error), nullptr);
        EXPECT_NE(error, 0u);
    }
    EXPECT_EQ(hid.open(kMissingPath, kv4::hid_access::probe, nullptr), nullptr);
}

} // namespace

#endif
