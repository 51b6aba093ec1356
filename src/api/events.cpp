// Device events: registering and unregistering the host's callback in its three variants.
#include "events/events.h"
#include "kv4usbcp.h"
#include "platform/boundary.h"

using namespace kv4;

namespace {

template <typename Callback>
int16_t register_variant(int variant, Callback callback, Callback event_callback::*slot)
{
    return guarded([&]() -> int16_t {
        if (!callback)
            return TKUSB_INVALID_PARAMETER;
        event_callback registered;
        registered.*slot = callback;
        return tkusb_platform_register_events(variant, registered);
    });
}

int16_t unregister_variant(int variant)
{
    return guarded([variant] { return tkusb_platform_unregister_events(variant); });
}

} // namespace

extern "C" {

KV4USBCP_API int16_t tkcmdsetUSB_register_events(tkusb_event_callback callback)
{
    return register_variant(1, callback, &event_callback::v1);
}

KV4USBCP_API int16_t tkcmdsetUSB_register_events2(tkusb_event_callback2 callback)
{
    return register_variant(2, callback, &event_callback::v2);
}

KV4USBCP_API int16_t tkcmdsetUSB_register_events3(tkusb_event_callback3 callback)
{
    return register_variant(3, callback, &event_callback::v3);
}

KV4USBCP_API int16_t tkcmdsetUSB_unregister_events(void) { return unregister_variant(1); }
KV4USBCP_API int16_t tkcmdsetUSB_unregister_events2(void) { return unregister_variant(2); }
KV4USBCP_API int16_t tkcmdsetUSB_unregister_events3(void) { return unregister_variant(3); }

} // extern "C"
