/* The production DLL on a real HID stack: two kv4sim-uhid monitors seen through Wine's HID bus.
 * Discovery and ports, the response-status rule, the same port after an unplug and a replug found
 * by discovery, and an unplug during a transaction. The monitors are scripted through
 * kv4sim-uhid's control FIFO. usage: kv4usbcp_real_stack [CONTROL_PATH]. Prints a line per failed
 * check; exits non-zero on any. */
#include "kv4usbcp.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

static int failures;
#define EXPECT(ok, ...)                                                                                                \
    ((ok) ? 1 : (++failures, printf("FAIL line %d: ", __LINE__), printf(__VA_ARGS__), putchar('\n'), 0))

static const char *control;

static void tell(const char *line)
{
    HANDLE fifo = CreateFileA(control, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    DWORD written = 0;
    EXPECT(fifo != INVALID_HANDLE_VALUE && WriteFile(fifo, line, (DWORD)strlen(line), &written, NULL),
           "telling kv4sim-uhid \"%s\"", line);
    CloseHandle(fifo);
}

static int16_t status(uint16_t port, uint16_t timeout)
{
    uint8_t frame[1] = {12}, answer[8];
    uint16_t length = 5;
    return tkcmdsetUSB_do_command(port, frame, 1, answer, &length, timeout);
}

static DWORD WINAPI status_in_thread(LPVOID result)
{
    *(int16_t *)result = status(0, 10000);
    return 0;
}

/* Discovery until it finds both monitors again (the system adds a replugged one in its own time). */
static int rediscovered(void)
{
    uint8_t count = 0;
    uint16_t ports[255];
    for (int waited = 0; waited < 20000; waited += 100, Sleep(100))
        if (tkcmdsetUSB_find_devices("Quillon5", &count, ports) == 0 && count == 2)
            return ports[0] == 0 && ports[1] == 1;
    return 0;
}

int main(int argc, char **argv)
{
    control = argc == 2 ? argv[1] : "Z:\\tmp\\kv4sim-control";
    EXPECT(tkcmdsetUSB_init() == 0, "init");
    EXPECT(rediscovered(), "two monitors on ports 0 and 1");

    /* Byte 0 of the answer decides: an accepted status is 0, a refused frame is the monitor's code. */
    uint8_t unknown[1] = {0x77}, answer[8];
    uint16_t length = 3;
    EXPECT(tkcmdsetUSB_do_command(0, unknown, 1, answer, &length, 1000) == -163 && answer[0] == 0,
           "an unknown command gives the monitor's code");

    /* A monitor that leaves while the library waits for its answer: the read fails at once rather
     * than wait out the time-out, the port closes, and comes back on the same number. */
    int16_t result = 1;
    tell("quiet 1 on\n");
    HANDLE waiting = CreateThread(NULL, 0, status_in_thread, &result, 0, NULL);
    Sleep(300);
    tell("unplug 1\n");
    EXPECT(WaitForSingleObject(waiting, 5000) == WAIT_OBJECT_0, "a transaction outlived the unplug by 5 s");
    EXPECT(result == TKUSB_READ_FAILED_ERR, "the transaction ended with %d", result);
    CloseHandle(waiting);
    EXPECT(status(0, 1000) == TKUSB_DEVICE_CLOSED_ERR, "port 0 closed");
    tell("quiet 1 off\nplug 1\n");
    EXPECT(rediscovered(), "the replugged monitor is found on port 0 again");
    EXPECT(status(0, 1000) == 0 && status(1, 1000) == 0, "both ports answer after the replug");
    EXPECT(tkcmdsetUSB_shutdown_all() == 0, "shutdown");
    printf("%s\n", failures ? "real-stack checks failed" : "real-stack checks passed");
    return failures != 0;
}
