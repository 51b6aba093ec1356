/* The Linux library when a monitor gets the hidraw node another one left: the kernel gives a new
 * HID device the lowest free /dev/hidrawN. Of two kv4sim-uhid monitors, both leave, 2 comes back
 * (on 1's node) and then 1 (on 2's); then 1 leaves, a new monitor 3 comes (on 1's node) and 1 comes
 * back. Every event must name the monitor's own port and serial, and every port's commands must
 * reach its own monitor: each monitor's RAM holds its serial, read back through its port.
 * usage: kv4usbcp_recycled_node CONTROL_PATH. Prints a line per failed check; exits non-zero on any. */
#define _POSIX_C_SOURCE 200809L
#include "kv4usbcp.h"

#include <errno.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

static int failures;
#define EXPECT(ok, ...)                                                                                                \
    ((ok) ? 1 : (++failures, printf("FAIL line %d: ", __LINE__), printf(__VA_ARGS__), putchar('\n'), 0))

static const char *control;
static pthread_mutex_t guard = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t changed = PTHREAD_COND_INITIALIZER;
static char heard[32][48]; /* "port/code/serial", in the order told */
static int heard_count, taken;

static void on_event(uint16_t port, int32_t code, const char *name, const char *serial)
{
    (void)name;
    pthread_mutex_lock(&guard);
    if (heard_count < 32)
        snprintf(heard[heard_count++], sizeof heard[0], "%u/%d/%s", (unsigned)port, (int)code, serial);
    pthread_cond_broadcast(&changed);
    pthread_mutex_unlock(&guard);
}

/* The next event, waited for up to 20 s, into out; "none" when none came. */
static void next_event(char *out, size_t size)
{
    struct timespec deadline;
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += 20;
    pthread_mutex_lock(&guard);
    while (taken == heard_count && pthread_cond_timedwait(&changed, &guard, &deadline) != ETIMEDOUT)
        ;
    snprintf(out, size, "%s", taken < heard_count ? heard[taken++] : "none");
    pthread_mutex_unlock(&guard);
}

static void expect_event(uint16_t port, int code, int monitor)
{
    char expected[48], got[48];
    snprintf(expected, sizeof expected, "%u/%d/SIM0000%d", (unsigned)port, code, monitor);
    next_event(got, sizeof got);
    EXPECT(strcmp(got, expected) == 0, "event %s, expected %s", got, expected);
}

static void tell(const char *line)
{
    FILE *fifo = fopen(control, "w");
    EXPECT(fifo && fputs(line, fifo) >= 0 && fclose(fifo) == 0, "telling kv4sim-uhid \"%s\"", line);
}

/* A removal is told before the port closes: the next plug may take the node only once it has. */
static void unplugged(uint16_t port, int monitor)
{
    char line[32];
    snprintf(line, sizeof line, "unplug %d\n", monitor);
    tell(line);
    expect_event(port, TKUSB_EVENT_DEVICE_DISCONNECTED, monitor);
    uint32_t status = 0;
    struct timespec pause = {0, 10000000L};
    for (int waited = 0; waited < 500 && tkcmdsetUSB_status(port, &status) != TKUSB_DEVICE_CLOSED_ERR; ++waited)
        nanosleep(&pause, NULL);
}

static void marks_read_back(const uint16_t *port_of, int monitors)
{
    for (int m = 1; m <= monitors; ++m) {
        char mark[9] = "", expected[16];
        uint16_t length = 9;
        snprintf(expected, sizeof expected, "SIM%05d", m);
        EXPECT(tkcmdsetUSB_read_memblk8(port_of[m], 0x200, (uint8_t *)mark, 8, &length) == 0 &&
                   strcmp(mark, expected) == 0,
               "port %u reads \"%s\", not monitor %d's mark", (unsigned)port_of[m], mark, m);
    }
}

int main(int argc, char **argv)
{
    control = argc == 2 ? argv[1] : "/tmp/kv4sim-control";
    uint16_t port_of[4] = {0}; /* by monitor number */
    EXPECT(tkcmdsetUSB_init() == 0, "init");
    EXPECT(tkcmdsetUSB_register_events2(on_event) == 0, "registration");
    for (int i = 0; i < 2; ++i) { /* the monitors attached: ports 0 and 1, in the system's order */
        char got[48];
        unsigned port = 9, monitor = 0;
        next_event(got, sizeof got);
        EXPECT(sscanf(got, "%u/1/SIM0000%u", &port, &monitor) == 2 && port < 2 && (monitor == 1 || monitor == 2),
               "event %s at registration", got);
        port_of[monitor & 3] = (uint16_t)port;
    }
    EXPECT(port_of[1] != port_of[2], "monitors 1 and 2 on ports %u and %u", port_of[1], port_of[2]);
    for (int m = 1; m <= 2; ++m) {
        char mark[9];
        uint16_t length = 9;
        snprintf(mark, sizeof mark, "SIM%05d", m);
        EXPECT(tkcmdsetUSB_write_memblk8(port_of[m], 0x200, (const uint8_t *)mark, 8, &length) == 0, "mark %d", m);
    }

    unplugged(port_of[1], 1);
    unplugged(port_of[2], 2);
    tell("plug 2\n");
    expect_event(port_of[2], TKUSB_EVENT_DEVICE_CONNECTED, 2);
    tell("plug 1\n");
    expect_event(port_of[1], TKUSB_EVENT_DEVICE_CONNECTED, 1);
    marks_read_back(port_of, 2);

    unplugged(port_of[1], 1);
    tell("add\n");
    port_of[3] = 2;
    expect_event(port_of[3], TKUSB_EVENT_DEVICE_CONNECTED, 3);
    tell("plug 1\n");
    expect_event(port_of[1], TKUSB_EVENT_DEVICE_CONNECTED, 1);
    uint16_t length = 9;
    EXPECT(tkcmdsetUSB_write_memblk8(port_of[3], 0x200, (const uint8_t *)"SIM00003", 8, &length) == 0, "mark 3");
    marks_read_back(port_of, 3);

    EXPECT(tkcmdsetUSB_unregister_events2() == 0, "unregistration");
    EXPECT(tkcmdsetUSB_shutdown_all() == 0, "shutdown");
    printf("%s\n", failures ? "recycled-node checks failed" : "recycled-node checks passed");
    return failures != 0;
}
