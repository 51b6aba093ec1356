/* fitness_floor.c - a floor of monitors polled side by side: each monitor's status is asked for
 * asynchronously, over and over, while two monitors are unplugged and plugged back in.
 *
 * What it shows a host:
 * - one completion callback for the whole library, on the library's I/O thread, called exactly
 *   once for every accepted send, whether it was answered, failed or timed out;
 * - the callback queueing the next exchange of its port itself;
 * - device events on the library's notification thread: a monitor that leaves closes its port,
 *   and when it comes back it is open again under the same port number;
 * - the order of a clean stop: unregister both callbacks, then shut the library down.
 * The host's counters, shared by three threads, are guarded by the library's lock (any thread).
 * Exit code 0 when every monitor answered and every send had its one callback. */
#define _POSIX_C_SOURCE 199309L /* nanosleep, hidden by strict C99 */

#include <stdio.h>

#include "kv4usbcp.h"
#include "kv4usbcp_sim.h"

#ifdef _WIN32
#include <windows.h>
#define pause_a_millisecond() Sleep(1)
#else
#include <time.h>
static const struct timespec millisecond = {0, 1000000L};
#define pause_a_millisecond() nanosleep(&millisecond, NULL)
#endif

#define MONITORS 8
#define ANSWERS 300 /* status answers wanted from each monitor */

struct floor_port {
    unsigned sends, callbacks, answers, failures;
    int in_flight; /* a send was accepted and its callback has not come yet */
    int plugged;
};

/* Shared with the library's threads; guarded by tkcmdsetUSB_lock. */
static struct floor_port floor_ports[MONITORS];
static unsigned arrivals, departures, strays;

/* Asks for the status once more; called with the library's lock held. The tag carries the send's
 * number, so each callback can be matched with its send. */
static void send_status(uint16_t port)
{
    static const uint8_t status_command = 12;
    struct floor_port *p = &floor_ports[port];
    if (p->in_flight || !p->plugged || p->answers >= ANSWERS)
        return;
    /* Refused sends (port closed after an unplug, say) have no callback and are not counted. */
    if (tkcmdsetUSB_send_command(port, &status_command, 1, 0, (uint16_t)(p->sends & 0x7FFF)) == 0) {
        ++p->sends;
        p->in_flight = 1;
    }
}

/* On the I/O thread. data is valid only during the call; result does not look at the status
 * byte, so the host does (data[0] non-zero: accepted). */
static void on_answer(uint16_t port, const uint8_t *data, uint16_t length, int16_t result, int16_t tag)
{
    tkcmdsetUSB_lock();
    if (port >= MONITORS || !floor_ports[port].in_flight || tag != (int16_t)((floor_ports[port].sends - 1) & 0x7FFF)) {
        ++strays;
    } else {
        struct floor_port *p = &floor_ports[port];
        p->in_flight = 0;
        ++p->callbacks;
        if (result == 0 && length >= 4 && data[0] != 0)
            ++p->answers;
        else
            ++p->failures;
        send_status(port);
    }
    tkcmdsetUSB_unlock();
}

/* On the notification thread; the texts are valid during the call. Variant 2 also hears of disk
 * volumes, whose events are not ours. */
static void on_event(uint16_t port, int32_t event, const char *product, const char *serial)
{
    if (event != TKUSB_EVENT_DEVICE_CONNECTED && event != TKUSB_EVENT_DEVICE_DISCONNECTED)
        return;
    printf("port %u %s: %s, serial %s\n", (unsigned)port, event == TKUSB_EVENT_DEVICE_CONNECTED ? "back" : "gone",
           product, serial);
    tkcmdsetUSB_lock();
    if (port < MONITORS) {
        floor_ports[port].plugged = event == TKUSB_EVENT_DEVICE_CONNECTED;
        if (event == TKUSB_EVENT_DEVICE_CONNECTED) {
            ++arrivals;
            send_status(port); /* the port is open again: carry on polling it */
        } else {
            ++departures;
        }
    }
    tkcmdsetUSB_unlock();
}

static int half_answered(void)
{
    int i;
    for (i = 0; i < MONITORS; ++i)
        if (floor_ports[i].answers < ANSWERS / 2)
            return 0;
    return 1;
}
static int two_gone(void) { return departures == 2; }
static int two_back(void) { return arrivals == 2; }
static int all_answered(void)
{
    int i;
    for (i = 0; i < MONITORS; ++i)
        if (floor_ports[i].answers < ANSWERS || floor_ports[i].in_flight)
            return 0;
    return 1;
}

/* Waits, at most a minute, for a condition on the shared counters. */
static int wait_for(int (*condition)(void), const char *what)
{
    long i;
    int met = 0;
    for (i = 0; i < 60000 && !met; ++i) {
        tkcmdsetUSB_lock();
        met = condition();
        tkcmdsetUSB_unlock();
        if (!met)
            pause_a_millisecond();
    }
    if (!met)
        printf("gave up waiting: %s\n", what);
    return met;
}

static int check(const char *what, int16_t code)
{
    char name[37] = {0}, text[141] = {0};
    if (code == 0)
        return 0;
    tkcmdsetUSB_get_error_name(code, name, sizeof name - 1);
    tkcmdsetUSB_get_error_text(code, text, sizeof text - 1);
    printf("%s: %d %s: %s\n", what, code, name, text);
    return 1;
}

int main(void)
{
    kv4sim_monitor *monitors[MONITORS];
    uint16_t ports[255];
    uint8_t count = 0;
    int i, ok;

    for (i = 0; i < MONITORS; ++i)
        if (!(monitors[i] = kv4sim_attach(NULL)))
            return 1;
    if (check("init", tkcmdsetUSB_init()) || check("find_devices", tkcmdsetUSB_find_devices("Quillon5", &count, ports)))
        return 1;
    if (count != MONITORS) {
        printf("found %u monitors, not %d\n", (unsigned)count, MONITORS);
        return 1;
    }
    /* Every exchange has a second to end; after that its callback brings TKUSB_READ_TIMEOUT_ERR. */
    if (check("register_asyncio", tkcmdsetUSB_register_asyncio(on_answer, 1000)) ||
        check("register_events2", tkcmdsetUSB_register_events2(on_event)))
        return 1;

    tkcmdsetUSB_lock();
    for (i = 0; i < count; ++i) {
        if (ports[i] >= MONITORS)
            continue;
        floor_ports[ports[i]].plugged = 1;
        send_status(ports[i]);
    }
    tkcmdsetUSB_unlock();

    /* Halfway, two monitors are unplugged (their exchanges under way end with a failure callback)
     * and plugged in again on other sockets. */
    ok = wait_for(half_answered, "half the answers");
    ok = ok && kv4sim_detach(monitors[2]) == 0 && kv4sim_detach(monitors[5]) == 0 &&
         wait_for(two_gone, "two departures");
    ok = ok && kv4sim_reattach(monitors[2], 1) == 0 && kv4sim_reattach(monitors[5], 1) == 0 &&
         wait_for(two_back, "two arrivals");
    ok = ok && wait_for(all_answered, "every answer");

    /* Callbacks first: after this no thread of the library calls into the host any more. */
    ok &= !check("unregister_events2", tkcmdsetUSB_unregister_events2());
    ok &= !check("unregister_asyncio", tkcmdsetUSB_unregister_asyncio());
    ok &= !check("shutdown_all", tkcmdsetUSB_shutdown_all());

    for (i = 0; i < MONITORS; ++i) {
        const struct floor_port *p = &floor_ports[i];
        printf("port %d: %u sends, %u callbacks, %u answers, %u failures\n", i, p->sends, p->callbacks, p->answers,
               p->failures);
        ok &= p->sends == p->callbacks && p->answers == ANSWERS;
    }
    printf("%u callbacks without a send; %s\n", strays, ok && strays == 0 ? "done" : "FAILED");
    for (i = 0; i < MONITORS; ++i)
        kv4sim_destroy(monitors[i]);
    return !(ok && strays == 0);
}
