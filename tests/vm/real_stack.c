/* The production library on a real HID stack: two kv4sim-uhid monitors, seen through hidraw by the
 * Linux library and through Wine's HID bus by the Windows DLL. Discovery and ports, the
 * response-status rule, the same port after an unplug and a replug found by discovery, and an
 * unplug during a transaction. The monitors are scripted through kv4sim-uhid's control FIFO.
 * usage: kv4usbcp_real_stack [CONTROL_PATH]. Prints a line per failed check; exits non-zero on any. */
#define _GNU_SOURCE /* pthread_timedjoin_np */
#include "kv4usbcp.h"

#include <stdio.h>
#include <string.h>

static int failures;
#define EXPECT(ok, ...)                                                                                                \
    ((ok) ? 1 : (++failures, printf("FAIL line %d: ", __LINE__), printf(__VA_ARGS__), putchar('\n'), 0))

static const char *control;

#ifdef _WIN32
#include <windows.h>
#define DEFAULT_CONTROL "Z:\\tmp\\kv4sim-control"
typedef HANDLE thread;
static void sleep_ms(unsigned ms) { Sleep(ms); }
static void status_in_thread(void);
static DWORD WINAPI run(LPVOID unused)
{
    (void)unused;
    status_in_thread();
    return 0;
}
static thread start(void) { return CreateThread(NULL, 0, run, NULL, 0, NULL); }
static int joined_within_5s(thread t) { return WaitForSingleObject(t, 5000) == WAIT_OBJECT_0 && CloseHandle(t); }
/* A FIFO of the Linux side, opened through Wine's Z: drive. */
static int told(const char *line)
{
    HANDLE fifo = CreateFileA(control, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    DWORD written = 0;
    int ok = fifo != INVALID_HANDLE_VALUE && WriteFile(fifo, line, (DWORD)strlen(line), &written, NULL);
    CloseHandle(fifo);
    return ok;
}
#else
#include <pthread.h>
#include <time.h>
#define DEFAULT_CONTROL "/tmp/kv4sim-control"
typedef pthread_t thread;
static void sleep_ms(unsigned ms)
{
    struct timespec t = {ms / 1000, (long)(ms % 1000) * 1000000L};
    nanosleep(&t, NULL);
}
static void status_in_thread(void);
static void *run(void *unused)
{
    (void)unused;
    status_in_thread();
    return NULL;
}
static thread start(void)
{
    pthread_t t;
    return pthread_create(&t, NULL, run, NULL) == 0 ? t : 0;
}
static int joined_within_5s(thread t)
{
    struct timespec deadline;
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += 5;
    return pthread_timedjoin_np(t, NULL, &deadline) == 0;
}
static int told(const char *line)
{
    FILE *fifo = fopen(control, "w");
    int ok = fifo && fputs(line, fifo) >= 0;
    return fifo ? fclose(fifo) == 0 && ok : 0;
}
#endif

static void tell(const char *line) { EXPECT(told(line), "telling kv4sim-uhid \"%s\"", line); }

static int16_t status(uint16_t port, uint16_t timeout)
{
    uint8_t frame[1] = {12}, answer[8];
    uint16_t length = 5;
    return tkcmdsetUSB_do_command(port, frame, 1, answer, &length, timeout);
}

static int16_t waited_status = 1;
static void status_in_thread(void) { waited_status = status(0, 10000); }

/* Discovery until it finds both monitors again (the system adds a replugged one in its own time). */
static int rediscovered(void)
{
    uint8_t count = 0;
    uint16_t ports[255];
    for (int waited = 0; waited < 20000; waited += 100, sleep_ms(100))
        if (tkcmdsetUSB_find_devices("Quillon5", &count, ports) == 0 && count == 2)
            return ports[0] == 0 && ports[1] == 1;
    return 0;
}

int main(int argc, char **argv)
{
    control = argc == 2 ? argv[1] : DEFAULT_CONTROL;
    EXPECT(tkcmdsetUSB_init() == 0, "init");
    EXPECT(rediscovered(), "two monitors on ports 0 and 1");

    /* Byte 0 of the answer decides: an accepted status is 0, a refused frame is the monitor's code. */
    uint8_t unknown[1] = {0x77}, answer[8];
    uint16_t length = 3;
    EXPECT(tkcmdsetUSB_do_command(0, unknown, 1, answer, &length, 1000) == -163 && answer[0] == 0,
           "an unknown command gives the monitor's code");

    /* A monitor that leaves while the library waits for its answer: the read fails at once rather
     * than wait out the time-out, the port closes, and comes back on the same number. */
    tell("quiet 1 on\n");
    thread waiting = start(); /* status_in_thread */
    sleep_ms(300);
    tell("unplug 1\n");
    EXPECT(joined_within_5s(waiting), "a transaction outlived the unplug by 5 s");
    EXPECT(waited_status == TKUSB_READ_FAILED_ERR, "the transaction ended with %d", waited_status);
    EXPECT(status(0, 1000) == TKUSB_DEVICE_CLOSED_ERR, "port 0 closed");
    tell("quiet 1 off\nplug 1\n");
    EXPECT(rediscovered(), "the replugged monitor is found on port 0 again");
    EXPECT(status(0, 1000) == 0 && status(1, 1000) == 0, "both ports answer after the replug");
    EXPECT(tkcmdsetUSB_shutdown_all() == 0, "shutdown");
    printf("%s\n", failures ? "real-stack checks failed" : "real-stack checks passed");
    return failures != 0;
}
