// Asynchronous exchanges: registering the completion callback, and queuing exchanges.
#include "api/dispatch.h"
#include "kv4usbcp.h"
#include "platform/boundary.h"
#include "usb/async_exchange.h"
#include "usb/async_state.h"
#include "usb/io_thread.h"

using namespace kv4;

extern "C" {

KV4USBCP_API int16_t tkcmdsetUSB_register_asyncio(tkusb_asyncio_callback callback, uint16_t timeout)
{
    return guarded([&]() -> int16_t {
        if (!callback)
            return TKUSB_INVALID_PARAMETER;
        return tkusb_platform_register_asyncio(callback, timeout);
    });
}

KV4USBCP_API int16_t tkcmdsetUSB_unregister_asyncio(void) { return guarded(tkusb_platform_unregister_asyncio); }

KV4USBCP_API int16_t tkcmdsetUSB_send_command(uint16_t port, const uint8_t *command, uint16_t command_length,
                                              uint16_t /*unused*/, uint16_t tag)
{
    return guarded([&] {
        return dispatch(port, init_check::required, [&](win32_device &device) {
            if (const int16_t result = tkusb_platform_asyncio_registered())
                return result;
            return queue_while_accepting([&] { return send_command(&device, command, command_length, tag); });
        });
    });
}

} // extern "C"
