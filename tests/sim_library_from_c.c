/* A host written in C and linked against the simulator library (KV4USBCP_sim.dll,
 * libkv4usbcp_sim.so) as an application would be: both headers compile as C99, and an
 * asynchronous exchange crosses the library's boundary, its callback coming on the library's own
 * thread. */
#define _POSIX_C_SOURCE 199309L /* nanosleep, hidden by strict C99 */

#include "kv4usbcp.h"
#include "kv4usbcp_sim.h"

#include <stdio.h>
#ifdef _WIN32
#include <windows.h>
static void pause_ms(unsigned ms) { Sleep(ms); }
#else
#include <time.h>
static void pause_ms(unsigned ms)
{
    struct timespec wait = {0, 1000000L};
    for (; ms; --ms)
        nanosleep(&wait, NULL);
}
#endif

/* 1 for the expected answer, -1 for anything else; shared under the library's lock, which a host
 * may take from any thread, its callbacks included. */
static int answered;

static void on_answer(uint16_t port, const uint8_t *data, uint16_t length, int16_t result, int16_t tag)
{
    tkcmdsetUSB_lock();
    /* The status word 0x01000000, whose first byte is the status byte. */
    answered = port == 0 && result == 0 && tag == 42 && length >= 4 && data[0] == 1 && data[1] == 0 ? 1 : -1;
    tkcmdsetUSB_unlock();
}

static int answer(void)
{
    int seen;
    tkcmdsetUSB_lock();
    seen = answered;
    tkcmdsetUSB_unlock();
    return seen;
}

static int failed(const char *what)
{
    printf("sim_library_from_c: %s failed\n", what);
    return 1;
}

int main(void)
{
    uint16_t ports[255];
    uint8_t count = 0;
    const uint8_t status = 12;
    int i;
    if (!kv4sim_attach(NULL) || tkcmdsetUSB_init() != 0 || tkcmdsetUSB_find_devices("Quillon5", &count, ports) != 0 ||
        count != 1)
        return failed("discovery");
    if (tkcmdsetUSB_register_asyncio(on_answer, 1000) != 0 || tkcmdsetUSB_send_command(0, &status, 1, 0, 42) != 0)
        return failed("sending");
    for (i = 0; i < 10000 && !answer(); ++i)
        pause_ms(1);
    if (answer() != 1)
        return failed("the answer");
    if (tkcmdsetUSB_unregister_asyncio() != 0 || tkcmdsetUSB_shutdown_all() != 0)
        return failed("stopping");
    return 0;
}
