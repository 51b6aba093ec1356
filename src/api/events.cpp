// Device events: registering and unregistering the host's callback in its three variants.
#include "events/events.h"
#include "kv4usbcp.h"

using namespace kv4;

extern "C" {

KV4USBCP_API int16_t tkcmdsetUSB_register_events(tkusb_event_callback callback)
{
    if (!callback)
        return TKUSB_INVALID_PARAMETER;
    event_callback registered;
    registered.v1 = callback;
    return tkusb_platform_register_events(1, registered);
}

KV4USBCP_API int16_t tkcmdsetUSB_register_events2(tkusb_event_callback2 callback)
{
    if (!callback)
        return TKUSB_INVALID_PARAMETER;
    event_callback registered;
    registered.v2 = callback;
    return tkusb_platform_register_events(2, registered);
}

KV4USBCP_API int16_t tkcmdsetUSB_register_events3(tkusb_event_callback3 callback)
{
    if (!callback)
        return TKUSB_INVALID_PARAMETER;
    event_callback registered;
    registered.v3 = callback;
    return tkusb_platform_register_events(3, registered);
}

KV4USBCP_API int16_t tkcmdsetUSB_unregister_events(void) { return tkusb_platform_unregister_events(1); }
KV4USBCP_API int16_t tkcmdsetUSB_unregister_events2(void) { return tkusb_platform_unregister_events(2); }
KV4USBCP_API int16_t tkcmdsetUSB_unregister_events3(void) { return tkusb_platform_unregister_events(3); }

} // extern "C"
