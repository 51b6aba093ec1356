// The device-change source on Windows: a real hidden top-level window, registered for HID
// interface notifications, with the system's message queue. Broadcasts that the library's own
// sources feed (the simulated bus) are posted to it as a private message that carries a copy of
// the record and is handed to the procedure as the WM_DEVICECHANGE the system would send.
#include "platform/device_change.h"
#include "platform/platform.h"

#include <windows.h>

#include <dbt.h>

// MinGW's HID headers declare their functions without C linkage.
extern "C" {
#include <hidsdi.h>
}

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

namespace kv4 {

namespace {

static_assert(sizeof(dev_broadcast_hdr) == sizeof(DEV_BROADCAST_HDR), "broadcast header layout");
static_assert(offsetof(dev_broadcast_volume, flags) == offsetof(DEV_BROADCAST_VOLUME, dbcv_flags), "volume layout");
static_assert(offsetof(dev_broadcast_deviceinterface, name) == offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name),
              "interface layout");
static_assert(sizeof(MSG) <= sizeof(window_message::os), "MSG does not fit the message record");

constexpr char class_name[] = "KV4USBDllWin";
constexpr UINT posted_broadcast = WM_APP + 0x4B4;

std::atomic<window_procedure> class_procedure{nullptr};
std::atomic<bool> notifications{false};
// The class's window, and the records posted to it that it has not taken yet, under records_guard.
std::mutex records_guard;
HWND the_window = nullptr;
std::vector<void *> posted;

HINSTANCE instance()
{
    void *module = module_instance();
    return module ? static_cast<HINSTANCE>(module) : GetModuleHandleA(nullptr);
}

window_handle as_handle(HWND window) { return reinterpret_cast<window_handle>(window); }
HWND os_window(window_handle window) { return reinterpret_cast<HWND>(window); }

bool take_posted(void *record)
{
    std::lock_guard<std::mutex> guard(records_guard);
    const auto found = std::find(posted.begin(), posted.end(), record);
    if (found == posted.end())
        return false;
    posted.erase(found);
    return true;
}

LRESULT CALLBACK window_entry(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    const window_procedure procedure = class_procedure.load();
    if (message == posted_broadcast) {
        void *record = reinterpret_cast<void *>(lparam);
        if (!take_posted(record))
            return 0; // not ours: someone else's message with our number
        if (procedure)
            procedure(as_handle(window), WM_DEVICECHANGE, wparam, lparam);
        std::free(record);
        return 0;
    }
    return procedure ? procedure(as_handle(window), message, wparam, lparam)
                     : DefWindowProcA(window, message, wparam, lparam);
}

void post_record(const void *record, std::size_t size, uint32_t event, bool hid_interface)
{
    if (hid_interface && !notifications.load())
        return;
    HWND window;
    {
        std::lock_guard<std::mutex> guard(records_guard);
        window = the_window;
    }
    // Sent, as the system sends it, from the window's own thread (a host's callback that plugs a
    // simulated monitor): handled at once, inside the handling under way.
    if (window && GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
        SendMessageA(window, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(record));
        return;
    }
    std::lock_guard<std::mutex> guard(records_guard);
    if (!the_window)
        return;
    void *copy = std::malloc(size);
    if (!copy)
        return;
    std::memcpy(copy, record, size);
    try {
        posted.push_back(copy);
    } catch (const std::bad_alloc &) {
        std::free(copy);
        return;
    }
    if (!PostMessageA(the_window, posted_broadcast, event, reinterpret_cast<LPARAM>(copy))) {
        posted.pop_back();
        std::free(copy);
    }
}

} // namespace

bool window_class_register(window_procedure procedure) noexcept
{
    WNDCLASSA window_class{};
    window_class.lpfnWndProc = window_entry;
    window_class.hInstance = instance();
    window_class.lpszClassName = class_name;
    if (!procedure || !RegisterClassA(&window_class))
        return false;
    class_procedure.store(procedure);
    return true;
}

void window_class_unregister() noexcept
{
    {
        // Records posted but never taken died with the thread's queue.
        std::lock_guard<std::mutex> guard(records_guard);
        for (void *record : posted)
            std::free(record);
        posted.clear();
    }
    class_procedure.store(nullptr);
    UnregisterClassA(class_name, instance());
}

window_handle window_create() noexcept
{
    HWND window = CreateWindowExA(0, class_name, "", 0, static_cast<int>(CW_USEDEFAULT), static_cast<int>(CW_USEDEFAULT),
                                  0, 0, nullptr, nullptr, instance(), nullptr);
    if (window) {
        std::lock_guard<std::mutex> guard(records_guard);
        the_window = window;
    }
    return as_handle(window);
}

void window_destroy(window_handle window) noexcept
{
    {
        std::lock_guard<std::mutex> guard(records_guard);
        if (the_window == os_window(window))
            the_window = nullptr;
    }
    DestroyWindow(os_window(window));
}

void window_post_quit() noexcept { PostQuitMessage(0); }

intptr_t window_default(window_handle window, uint32_t message, uintptr_t wparam, intptr_t lparam) noexcept
{
    return DefWindowProcA(os_window(window), message, wparam, lparam);
}

bool window_post(window_handle window, uint32_t message, uintptr_t wparam, intptr_t lparam) noexcept
{
    return PostMessageA(os_window(window), message, wparam, lparam) != 0;
}

int window_get_message(window_message *message, window_handle window) noexcept
{
    return GetMessageA(reinterpret_cast<MSG *>(message->os), os_window(window), 0, 0);
}

void window_dispatch(const window_message *message) noexcept
{
    const MSG *msg = reinterpret_cast<const MSG *>(message->os);
    TranslateMessage(msg);
    DispatchMessageA(msg);
}

void *device_notification_register(window_handle window) noexcept
{
    DEV_BROADCAST_DEVICEINTERFACE_A filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    HidD_GetHidGuid(&filter.dbcc_classguid);
    void *notification = RegisterDeviceNotificationA(os_window(window), &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    notifications.store(notification != nullptr);
    return notification;
}

void device_notification_unregister(void *notification) noexcept
{
    notifications.store(false);
    UnregisterDeviceNotification(notification);
}

void broadcast_interface(const char *path, uint32_t event) noexcept
{
    const std::size_t length = std::strlen(path);
    const std::size_t size = std::max(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A),
                                      offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name) + length + 1);
    std::vector<char> record;
    try {
        record.resize(size);
    } catch (const std::bad_alloc &) {
        return;
    }
    auto *header = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_A *>(record.data());
    header->dbcc_size = static_cast<DWORD>(offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name) + length + 1);
    header->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    HidD_GetHidGuid(&header->dbcc_classguid);
    std::memcpy(header->dbcc_name, path, length + 1);
    post_record(record.data(), record.size(), event, true);
}

void broadcast_volume(uint32_t unitmask, uint32_t event, uint16_t flags) noexcept
{
    DEV_BROADCAST_VOLUME record{};
    record.dbcv_size = sizeof record;
    record.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    record.dbcv_unitmask = unitmask;
    record.dbcv_flags = flags;
    post_record(&record, sizeof record, event, false);
}

} // namespace kv4
