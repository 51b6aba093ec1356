/* A host that unloads the simulator library (FreeLibrary) while the library's I/O thread is still
 * inside the host's callback: the thread keeps the DLL loaded until it has ended, and the DLL
 * leaves the process then. Exits with the number of the step that failed. */
#include "kv4usbcp.h"
#include "kv4usbcp_sim.h"

#include <windows.h>

#define DLL "KV4USBCP_sim.dll"
#define FIND(type, name) ((type)(void (*)(void))GetProcAddress(dll, name))

static int16_t (*unregister_asyncio)(void);
static HANDLE in_callback, may_return;
static volatile int16_t unregistered = 1;

static void on_answer(uint16_t port, const uint8_t *data, uint16_t length, int16_t result, int16_t tag)
{
    (void)port, (void)data, (void)length, (void)result, (void)tag;
    unregistered = unregister_asyncio(); /* from its own thread: the thread ends once this returns */
    SetEvent(in_callback);
    WaitForSingleObject(may_return, 10000);
}

int main(void)
{
    HMODULE dll = LoadLibraryA(DLL);
    uint16_t ports[255];
    uint8_t count = 0;
    const uint8_t status = 12;
    int waited = 0;
    in_callback = CreateEventA(NULL, TRUE, FALSE, NULL);
    may_return = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (!dll || !in_callback || !may_return)
        return 1;
    unregister_asyncio = FIND(int16_t(*)(void), "tkcmdsetUSB_unregister_asyncio");
    if (!FIND(kv4sim_monitor * (*)(const kv4sim_monitor_desc *), "kv4sim_attach")(NULL) ||
        FIND(int16_t(*)(void), "tkcmdsetUSB_init")() ||
        FIND(int16_t(*)(const char *, uint8_t *, uint16_t *), "tkcmdsetUSB_find_devices")("Quillon5", &count, ports) ||
        count != 1 ||
        FIND(int16_t(*)(tkusb_asyncio_callback, uint16_t), "tkcmdsetUSB_register_asyncio")(on_answer, 100) ||
        FIND(int16_t(*)(uint16_t, const uint8_t *, uint16_t, uint16_t, uint16_t), "tkcmdsetUSB_send_command")(
            0, &status, 1, 0, 1))
        return 2;
    if (WaitForSingleObject(in_callback, 20000) != WAIT_OBJECT_0)
        return 3;
    FreeLibrary(dll);
    if (!GetModuleHandleA(DLL))
        return 4; /* gone while its thread is still to return into it */
    SetEvent(may_return);
    for (; GetModuleHandleA(DLL) && waited < 20000; waited += 10)
        Sleep(10);
    if (GetModuleHandleA(DLL))
        return 5;
    return unregistered == TKUSB_EVENT_TIMEOUT_ERR ? 0 : 6;
}
