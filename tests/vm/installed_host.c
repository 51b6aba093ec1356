/* A host as a developer builds it from the installed packages alone (pkg-config kv4usbcp): finds
 * the monitors on the machine, prints each one's serial number and status, and stops the library.
 * Exits non-zero unless there was at least one monitor and every call succeeded. */
#include <kv4usbcp.h>
#include <stdio.h>

int main(void)
{
    uint16_t ports[255];
    uint8_t count = 0, i;
    int failures = tkcmdsetUSB_init() != 0 || tkcmdsetUSB_find_devices("Quillon5", &count, ports) != 0 || count == 0;
    for (i = 0; i < count; ++i) {
        char serial[64] = {0};
        uint32_t status = 0;
        const int16_t got_serial = tkcmdsetUSB_serial_number(ports[i], serial, sizeof serial - 1);
        const int16_t got_status = tkcmdsetUSB_status(ports[i], &status);
        printf("port %u: serial %s (%d), status 0x%08lX (%d)\n", (unsigned)ports[i], serial, got_serial,
               (unsigned long)status, got_status);
        failures += got_serial != 0 || got_status != 0;
    }
    printf("%u monitor(s) found\n", (unsigned)count);
    return failures + (tkcmdsetUSB_shutdown_all() != 0);
}
