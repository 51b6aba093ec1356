// Starting and stopping the library, closing one port, the host's use of the platform lock.
#include "api/lifecycle.h"

#include "api/dispatch.h"
#include "kv4usbcp.h"
#include "platform/boundary.h"
#include "platform/platform.h"
#include "usb/registry.h"

namespace kv4 {

std::atomic<bool> library_initialised{false};

// With the classes the version query yields, only the first release of the Windows 9x family
// without its service mark is refused.
bool os_version_accepted(uint16_t version_class)
{
    const unsigned family = version_class >> 8;
    const unsigned index = version_class & 0xFF;
    if (family == 0)
        return false;
    if (family == 2 && index <= 10)
        return false;
    if (family == 1 && (index == 1 || index == 2))
        return false;
    return true;
}

} // namespace kv4

using namespace kv4;

extern "C" {

KV4USBCP_API int16_t tkcmdsetUSB_init(void)
{
    return guarded([]() -> int16_t {
        if (library_initialised.load()) {
            tkusb_platform_close_all();
            library_initialised.store(false);
        }
        if (!os_version_accepted(os_version_class()))
            return TKUSB_OS_UNSUPPORTED;
        tkusb_platform_init();
        library_initialised.store(true);
        return 0;
    });
}

KV4USBCP_API int16_t tkcmdsetUSB_shutdown_all(void)
{
    return guarded([] {
        tkusb_platform_close_all();
        library_initialised.store(false);
        return int16_t{0};
    });
}

KV4USBCP_API int16_t tkcmdsetUSB_shutdown(uint16_t port)
{
    return guarded([port] {
        return dispatch(port, init_check::not_required, [](win32_device &device) {
            device.close();
            return int16_t{0};
        });
    });
}

KV4USBCP_API int16_t tkcmdsetUSB_lock(void) { return guarded(tkusb_platform_lock); }

KV4USBCP_API int16_t tkcmdsetUSB_unlock(void) { return guarded(tkusb_platform_unlock); }

KV4USBCP_API uint16_t tkcmdsetUSB_get_dll_version(void) { return KV4USBCP_VERSION; }

} // extern "C"
