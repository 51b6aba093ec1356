// Volumes that arrive or leave, told to variants 2 and 3 with their drive.
#include "events/events.h"

#include "platform/hid_services.h"

#include <cstdio>
#include <cstring>

namespace kv4 {

char tkusb_drive_letter(uint32_t unitmask)
{
    unsigned index = 0;
    while (index < 26 && !(unitmask >> index & 1))
        ++index;
    return static_cast<char>('A' + index);
}

void tkusb_platform_volume_event(int variant, uintptr_t wparam, const dev_broadcast_volume *record)
{
    if (record->flags & (dbtf_media | dbtf_net))
        return;
    const bool arrived = wparam == dbt_device_arrival;
    if (!arrived && wparam != dbt_device_remove_complete)
        return;
    const char letter = tkusb_drive_letter(record->unitmask);
    const auto drives = static_cast<uint16_t>(record->unitmask);
    const int32_t code = arrived ? TKUSB_EVENT_VOLUME_ARRIVED : TKUSB_EVENT_VOLUME_REMOVED;
    if (arrived || variant == 3)
        std::snprintf(event_text, sizeof event_text, "%c:\\", letter);
    else
        std::snprintf(event_text, sizeof event_text, "Drive %c: DISCONNECTED\n", letter);
    if (variant == 2) {
        notify_host(variant, drives, code, event_text, nullptr, 0);
        return;
    }
    // The label when the drive answers; on an arrival whose label cannot be read, the volume's
    // unique name; otherwise (as on most removals, the drive being gone) an empty text.
    char volume_name[225] = "";
    char label[225];
    if (arrived && !hid().volume_name(event_text, volume_name, sizeof volume_name))
        volume_name[0] = '\0';
    if (hid().volume_label(event_text, label, sizeof label))
        std::memcpy(volume_name, label, sizeof label);
    volume_name[sizeof volume_name - 1] = '\0';
    notify_host(variant, drives, code, volume_name, nullptr, 0);
}

} // namespace kv4
