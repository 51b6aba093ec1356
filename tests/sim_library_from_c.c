/* A host written in C and linked against the simulator library (KV4USBCP_sim.dll,
 * libkv4usbcp_sim.so) as an application would be, with or without a C runtime: both headers compile
 * as C99, a status command answers, and an asynchronous exchange crosses the library's boundary, its
 * callback coming on the library's own thread. Exits with the number of the step that failed. */
#define _POSIX_C_SOURCE 199309L /* nanosleep, hidden by strict C99 */

#include "kv4usbcp.h"
#include "kv4usbcp_sim.h"

#ifdef _WIN32
__declspec(dllimport) void __stdcall Sleep(unsigned long milliseconds);
__declspec(dllimport) __declspec(noreturn) void __stdcall ExitProcess(unsigned int code);
int main(void);
void kv4_entry(void) { ExitProcess((unsigned int)main()); } /* the entry point without a C runtime */
#define pause_a_millisecond() Sleep(1)
#else
#include <time.h>
static const struct timespec millisecond = {0, 1000000L};
#define pause_a_millisecond() nanosleep(&millisecond, NULL)
#endif

/* 1 for the expected answer, -1 for anything else; shared under the library's lock, which a host
 * may take on any thread, its callbacks' included. */
static int answered;

static void on_answer(uint16_t port, const uint8_t *data, uint16_t length, int16_t result, int16_t tag)
{
    tkcmdsetUSB_lock();
    /* The status word 0x01000000, whose first byte is the status byte. */
    answered = port == 0 && result == 0 && tag == 42 && length >= 4 && data[0] == 1 && data[1] == 0 ? 1 : -1;
    tkcmdsetUSB_unlock();
}

int main(void)
{
    uint16_t ports[255];
    uint8_t count = 0;
    const uint8_t status = 12;
    uint32_t word = 0;
    int i, seen = 0;
    if (!kv4sim_attach(NULL) || tkcmdsetUSB_init() || tkcmdsetUSB_find_devices("Quillon5", &count, ports) || count != 1
        || tkcmdsetUSB_status(0, &word) || word != 0x01000000UL)
        return 1;
    if (tkcmdsetUSB_register_asyncio(on_answer, 1000) || tkcmdsetUSB_send_command(0, &status, 1, 0, 42))
        return 2;
    for (i = 0; i < 10000 && !seen; ++i) {
        pause_a_millisecond();
        tkcmdsetUSB_lock();
        seen = answered;
        tkcmdsetUSB_unlock();
    }
    return seen != 1 ? 3 : tkcmdsetUSB_unregister_asyncio() || tkcmdsetUSB_shutdown_all() ? 4 : 0;
}
