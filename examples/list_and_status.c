/* list_and_status.c - the first steps of a KV4USBCP host: start the library, find the monitors,
 * read who they are and how they are, and stop.
 *
 * Built against the simulator library (KV4USBCP_sim.dll, libkv4usbcp_sim.so), which plugs in the
 * monitors below; against KV4USBCP.dll or libkv4usbcp.so the same code, without the kv4sim_ lines,
 * talks to the monitors on the USB bus. Every result is checked and printed with its name and its
 * sentence. Exit code 0 when every step went as it should. */
#include <stdio.h>
#include <string.h>

#include "kv4usbcp.h"
#include "kv4usbcp_sim.h"

/* Prints what a call gave; returns non-zero when that was a failure. 0 has no row in the error
 * table (its name would be "Unknown Error"), nor has TKUSB_GET_STRING_ERR; positive codes are
 * the monitor's own. */
static int report(const char *what, int16_t code)
{
    char name[36 + 1] = {0}, text[140 + 1] = {0}; /* the longest name and sentence, and a terminator */
    if (code == 0) {
        printf("%-28s      0 success\n", what);
        return 0;
    }
    tkcmdsetUSB_get_error_name(code, name, sizeof name - 1);
    tkcmdsetUSB_get_error_text(code, text, sizeof text - 1);
    printf("%-28s %6d %s: %s\n", what, code, name, text);
    return 1;
}

/* Expects a failure: prints it, and returns non-zero when the call gave anything else. */
static int expect(const char *what, int16_t code, int16_t expected)
{
    report(what, code);
    return code != expected;
}

/* The four identification strings of a monitor. A refused string means the monitor is gone: the
 * library has closed the port (TKUSB_GET_STRING_ERR, a code without a name of its own). */
static int identify(uint16_t port)
{
    static const char *const labels[] = {"serial number", "firmware", "hardware", "boot loader"};
    int16_t (*const queries[])(uint16_t, char *, uint8_t) = {tkcmdsetUSB_serial_number, tkcmdsetUSB_fw_version,
                                                             tkcmdsetUSB_hw_version, tkcmdsetUSB_loader_fw_version};
    int i, failures = 0;
    for (i = 0; i < 4; ++i) {
        char text[64] = {0};
        /* One byte is held back so the text stays terminated even when it fills the buffer. */
        const int16_t code = queries[i](port, text, sizeof text - 1);
        failures += report(labels[i], code);
        if (code == 0)
            printf("    %s\n", text);
    }
    return failures;
}

/* The status word: its top byte is the monitor's status byte, so a monitor that refuses (top byte
 * 0) gives its own code as the result instead. */
static int show_status(uint16_t port)
{
    uint32_t status = 0;
    uint16_t largest = 0;
    int failures = report("largest report", tkcmdsetUSB_max_report_size(port, &largest));
    printf("    %u bytes\n", (unsigned)largest);
    failures += report("status", tkcmdsetUSB_status(port, &status));
    printf("    0x%08lX\n", (unsigned long)status);
    return failures;
}

/* The port of the monitor with this serial number, or -1. */
static int port_of(const char *serial, const uint16_t *ports, int count)
{
    int i;
    for (i = 0; i < count; ++i) {
        char text[64] = {0};
        if (tkcmdsetUSB_serial_number(ports[i], text, sizeof text - 1) == 0 && strcmp(text, serial) == 0)
            return ports[i];
    }
    return -1;
}

int main(void)
{
    kv4sim_monitor_desc bike = {0}, rower = {0}, mouse = {0};
    uint16_t ports[255]; /* discovery writes up to 255 ports */
    uint8_t count = 0;
    int i, rower_port, failures = 0;
    kv4sim_monitor *rower_monitor;
    uint32_t status = 0;

    /* Two simulated monitors, and a HID device that is no monitor, which the filter leaves out. */
    bike.fw_version = "BIKE-FW 2.10";
    rower.product = "KV4 Quillon5 Rower";
    rower.serial = "ROWER01";
    rower.fw_version = "ROWER-FW 1.04";
    mouse.product = "USB Optical Mouse";
    if (!kv4sim_attach(&bike) || !(rower_monitor = kv4sim_attach(&rower)) || !kv4sim_attach(&mouse)) {
        puts("the simulated devices could not be attached");
        return 1;
    }

    printf("KV4USBCP version %04X\n", (unsigned)tkcmdsetUSB_get_dll_version());
    if (report("init", tkcmdsetUSB_init()))
        return 1;
    /* The filter is a case-sensitive part of the USB product string. */
    failures += report("find_devices", tkcmdsetUSB_find_devices("Quillon5", &count, ports));
    printf("    %u monitor(s)\n", (unsigned)count);
    if (count != 2)
        ++failures;

    for (i = 0; i < count; ++i) {
        printf("port %u\n", (unsigned)ports[i]);
        failures += identify(ports[i]);
        failures += show_status(ports[i]);
    }

    /* A port that was never handed out is refused, and says so. */
    failures += expect("status of port 99 (none)", tkcmdsetUSB_status(99, &status), TKUSB_INVALID_PORT_ERR);

    /* A monitor that refuses its strings is taken to be gone: the port closes, and commands on it
     * answer TKUSB_DEVICE_CLOSED_ERR until it is opened again. */
    rower_port = port_of("ROWER01", ports, count);
    if (rower_port < 0) {
        puts("the rower has no port");
        ++failures;
    } else {
        char serial[16];
        const uint16_t port = (uint16_t)rower_port;
        printf("rower on port %u\n", (unsigned)port);
        kv4sim_set_fault(rower_monitor, KV4SIM_FAULT_REFUSE_STRINGS, 1);
        failures += expect("serial number (refused)", tkcmdsetUSB_serial_number(port, serial, sizeof serial),
                           TKUSB_GET_STRING_ERR);
        failures += expect("status (port closed)", tkcmdsetUSB_status(port, &status), TKUSB_DEVICE_CLOSED_ERR);
        kv4sim_set_fault(rower_monitor, KV4SIM_FAULT_REFUSE_STRINGS, 0);
        failures += report("reset_port", tkcmdsetUSB_reset_port(port));
        failures += report("status (open again)", tkcmdsetUSB_status(port, &status));
    }

    failures += report("shutdown_all", tkcmdsetUSB_shutdown_all());
    printf("%s\n", failures ? "FAILED" : "done");
    return failures != 0;
}
