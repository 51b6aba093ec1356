// kv4usb: command-line host for KV4 monitors.
#include "kv4usbcp.h"

#include <cstdio>

int main()
{
    const uint16_t version = tkcmdsetUSB_get_dll_version();
    std::printf("KV4USBCP %u.%02x\n", version >> 8, version & 0xFF);
    const int16_t codes[] = {TKUSB_INVALID_PORT_ERR, TKUSB_NO_PORT_INIT_ERR, TKUSB_READ_TIMEOUT_ERR,
                             TKUSB_DEVICE_CLOSED_ERR, TKCMDSET_MUTEX_FAILED_ERR, 0};
    for (int16_t code : codes) {
        char name[36];
        char text[140];
        tkcmdsetUSB_get_error_name(code, name, sizeof name);
        tkcmdsetUSB_get_error_text(code, text, sizeof text);
        std::printf("%7d  %-28s %s\n", code, name, text);
    }
    return 0;
}
