// The production DLL's notification window, driven as the system drives it: for each variant,
// the hidden window that registering creates (class, style, size and owner, compared with a
// window made here with the same arguments), the broadcasts sent to it and the callbacks they give
// (at once: SendMessage waits for the window's thread), and window and class gone after
// unregistering. Prints a line per mismatch; exits non-zero on any.
#include "kv4usbcp.h"

#include <windows.h>

#include <dbt.h>
#include <stdio.h>
#include <string.h>

static int failures;
#define EXPECT(ok, ...)                                                                                                \
    ((ok) ? (void)0 : (void)(++failures, printf("FAIL line %d: ", __LINE__), printf(__VA_ARGS__), putchar('\n')))
#define CLASS "KV4USBDllWin"

static struct {
    int calls, has_serial, port, event, product_id;
    char text[256];
} seen;

static void record(uint16_t port, int32_t event, const char *text, const char *serial, uint16_t product_id)
{
    seen.calls++, seen.port = port, seen.event = event, seen.has_serial = serial != NULL, seen.product_id = product_id;
    snprintf(seen.text, sizeof seen.text, "%s", text ? text : "(null)");
}
static void on_event1(uint16_t p, int32_t e) { record(p, e, NULL, NULL, 0); }
static void on_event2(uint16_t p, int32_t e, const char *t, const char *s) { record(p, e, t, s, 0); }
static void on_event3(uint16_t p, int32_t e, const char *t, const char *s, uint16_t id) { record(p, e, t, s, id); }
static int16_t register1(void) { return tkcmdsetUSB_register_events(on_event1); }
static int16_t register2(void) { return tkcmdsetUSB_register_events2(on_event2); }
static int16_t register3(void) { return tkcmdsetUSB_register_events3(on_event3); }

/* A callback that sends the window a broadcast from its own thread, as a MessageBox's loop hands
 * it one: the nested broadcast must be handled after the callback returns. */
static HWND nesting_window;
static int nesting_calls, nested_inside;
static void on_nesting(uint16_t p, int32_t e, const char *t, const char *s)
{
    static DEV_BROADCAST_VOLUME inner = {sizeof inner, DBT_DEVTYP_VOLUME, 0, 1u << 16, 0};
    (void)p, (void)e, (void)t, (void)s;
    if (++nesting_calls == 1) {
        SendMessageA(nesting_window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, (LPARAM)&inner);
        nested_inside = nesting_calls > 1;
    }
}

static HWND check_window(HMODULE dll, HWND reference)
{
    HWND window;
    int waited = 0;
    for (; !(window = FindWindowA(CLASS, NULL)) && waited < 5000; waited += 10)
        Sleep(10);
    EXPECT(window && !waited, "window found after %d ms (registering returns once it exists)", waited);
    WNDCLASSA c = {0};
    RECT mine = {0}, theirs = {0};
    char title[16] = "?";
    if (!window)
        return NULL;
    EXPECT(GetClassInfoA(dll, CLASS, &c) && !c.style && !c.cbClsExtra && !c.cbWndExtra && !c.hIcon && !c.hCursor &&
               !c.hbrBackground && !c.lpszMenuName && (HMODULE)GetClassLongPtrA(window, GCLP_HMODULE) == dll,
           "class: style %#x, cursor %p, not of the DLL or more set", c.style, (void *)c.hCursor);
    GetWindowRect(window, &mine), GetWindowRect(reference, &theirs);
    EXPECT(GetWindowLongPtrA(window, GWL_STYLE) == GetWindowLongPtrA(reference, GWL_STYLE) &&
               GetWindowLongPtrA(window, GWL_EXSTYLE) == GetWindowLongPtrA(reference, GWL_EXSTYLE) &&
               mine.right - mine.left == theirs.right - theirs.left &&
               mine.bottom - mine.top == theirs.bottom - theirs.top,
           "style %#lx, size %ldx%ld", (long)GetWindowLongPtrA(window, GWL_STYLE), mine.right - mine.left,
           mine.bottom - mine.top);
    EXPECT(!IsWindowVisible(window) && !GetParent(window) && !GetWindow(window, GW_OWNER) &&
               GetAncestor(window, GA_PARENT) == GetDesktopWindow() && !GetWindowTextA(window, title, 16) && !*title &&
               (HMODULE)GetWindowLongPtrA(window, GWLP_HINSTANCE) == dll &&
               GetWindowThreadProcessId(window, NULL) != GetCurrentThreadId(),
           "window visible, owned, titled \"%s\", not of the DLL or not on a thread of its own", title);
    return window;
}

// A broadcast: wParam, its record, and the text of the one callback that variants 2 and 3 should
// get (NULL: none); variant 1 gets none of them. The record: for a letter 'A' to 'Z' a volume of
// that drive plus P: and Z: (higher, so the lowest names the text; Z: beyond the port's 16 bits),
// '[' a volume of no drive, 'i' a HID interface that is no monitor, 0 none.
struct row {
    int wparam, letter, flags;
    const char *text2, *text3;
};

static void send_rows(HWND window, int variant, const struct row *rows, int count)
{
    struct {
        DEV_BROADCAST_DEVICEINTERFACE_A header;
        char rest[96];
    } device = {{sizeof device, DBT_DEVTYP_DEVICEINTERFACE, 0, {0}, {0}}, {0}};
    strcpy(device.header.dbcc_name, "\\\\?\\hid#vid_0000&pid_0000#0#{4d1e55b2-f16f-11cf-88cb-111111000030}");
    for (int i = 0; i < count; ++i) {
        const struct row *r = &rows[i];
        const DWORD drives = r->letter >= 'A' && r->letter <= 'Z' ? 1u << (r->letter - 'A') | 1u << 15 | 1u << 25 : 0;
        DEV_BROADCAST_VOLUME volume = {sizeof volume, DBT_DEVTYP_VOLUME, 0, drives, r->flags};
        const LPARAM lparam = r->letter == 'i' ? (LPARAM)&device : r->letter ? (LPARAM)&volume : 0;
        const char *text = variant == 1 ? NULL : variant == 2 ? r->text2 : r->text3;
        const int32_t event = r->wparam == DBT_DEVICEARRIVAL ? TKUSB_EVENT_VOLUME_ARRIVED : TKUSB_EVENT_VOLUME_REMOVED;
        memset(&seen, 0, sizeof seen);
        const LRESULT result = SendMessageA(window, WM_DEVICECHANGE, r->wparam, lparam);
        if (!text)
            EXPECT(result == 0 && !seen.calls, "variant %d row %d: %d callbacks, none wanted", variant, i, seen.calls);
        else
            EXPECT(seen.calls == 1 && seen.port == (int)(drives & 0xFFFF) && seen.event == event &&
                       !strcmp(seen.text, text) && !seen.has_serial && !seen.product_id,
                   "variant %d row %d: %d calls, last (%d, %d, \"%s\", serial %d, id %d)", variant, i, seen.calls,
                   seen.port, seen.event, seen.text, seen.has_serial, seen.product_id);
    }
}

int main(void)
{
    HMODULE dll = GetModuleHandleA("KV4USBCP.dll");
    WNDCLASSA ours = {0, DefWindowProcA, 0, 0, GetModuleHandleA(NULL), NULL, NULL, NULL, NULL, "KV4Reference"};
    RegisterClassA(&ours);
    HWND reference = CreateWindowExA(0, ours.lpszClassName, "", 0, CW_USEDEFAULT, CW_USEDEFAULT, 0, 0, NULL, NULL,
                                     ours.hInstance, NULL);
    char label[MAX_PATH + 1] = "", free_drive = 'D', arrived[8], gone[32];
    const DWORD drives = GetLogicalDrives();
    while (free_drive < 'O' && drives >> (free_drive - 'A') & 1)
        ++free_drive;
    if (!dll || !reference || drives >> (free_drive - 'A') & 1 ||
        !GetVolumeInformationA("C:\\", label, sizeof label, NULL, NULL, NULL, NULL, 0) || tkcmdsetUSB_init() != 0) {
        printf("FAIL: set-up (DLL, reference window, free drive %c:, label of C:, init)\n", free_drive);
        return 1;
    }
    snprintf(arrived, sizeof arrived, "%c:\\", free_drive);
    snprintf(gone, sizeof gone, "Drive %c: DISCONNECTED\n", free_drive);
    // Variant 3's text: the label while the drive answers; empty for a drive that is not there.
    const struct row rows[] = {
        {DBT_DEVICEARRIVAL, 'C', 0, "C:\\", label},
        {DBT_DEVICEREMOVECOMPLETE, 'C', 0, "Drive C: DISCONNECTED\n", label},
        {DBT_DEVICEARRIVAL, free_drive, 0, arrived, ""},
        {DBT_DEVICEREMOVECOMPLETE, free_drive, 0, gone, ""},
        {DBT_DEVICEARRIVAL, '[', 0, "[:\\", ""},
        {DBT_DEVICEREMOVEPENDING, 'C', 0, NULL, NULL},
        {DBT_DEVICEARRIVAL, 'C', DBTF_MEDIA, NULL, NULL},
        {DBT_DEVICEREMOVECOMPLETE, free_drive, DBTF_NET, NULL, NULL},
        {DBT_DEVICEQUERYREMOVE, 'C', 0, NULL, NULL},
        {DBT_DEVNODES_CHANGED, 0, 0, NULL, NULL},
        {DBT_DEVICEARRIVAL, 'i', 0, NULL, NULL},
    };
    int16_t (*const start[])(void) = {NULL, register1, register2, register3};
    int16_t (*const stop[])(void) = {NULL, tkcmdsetUSB_unregister_events, tkcmdsetUSB_unregister_events2,
                                     tkcmdsetUSB_unregister_events3};
    const int order[] = {2, 3, 1};
    for (int i = 0; i < 3; ++i) {
        const int v = order[i];
        const int16_t registered = start[v]();
        HWND window = registered == 0 ? check_window(dll, reference) : NULL;
        if (window)
            send_rows(window, v, rows, sizeof rows / sizeof *rows);
        const int16_t unregistered = stop[v]();
        WNDCLASSA c;
        EXPECT(!registered && !unregistered && !FindWindowA(CLASS, NULL) && !GetClassInfoA(dll, CLASS, &c),
               "variant %d: registering gave %d, unregistering %d, or window or class left", v, registered,
               unregistered);
    }
    if (tkcmdsetUSB_register_events2(on_nesting) == 0 && (nesting_window = FindWindowA(CLASS, NULL))) {
        DEV_BROADCAST_VOLUME outer = {sizeof outer, DBT_DEVTYP_VOLUME, 0, 1u << 15, 0};
        SendMessageA(nesting_window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, (LPARAM)&outer);
        EXPECT(nesting_calls == 2 && !nested_inside, "nested broadcast: %d callbacks, handled inside: %d",
               nesting_calls, nested_inside);
    } else {
        EXPECT(0, "registering for the nested broadcast");
    }
    tkcmdsetUSB_unregister_events2();
    tkcmdsetUSB_shutdown_all();
    DestroyWindow(reference);
    printf(failures ? "%d mismatches\n" : "notification window: all checks passed\n", failures);
    return failures != 0;
}
