// OS primitives on Windows: critical sections, kernel events and waits, threads that keep the
// library's module loaded, GetTickCount, the version query and the ANSI code page.
#include "platform/platform.h"

#include <windows.h>

#include <algorithm>
#include <new>

namespace kv4 {

// ---- Recursive lock -----------------------------------------------------------------------------

static_assert(sizeof(CRITICAL_SECTION) <= 64, "lock storage too small");

static CRITICAL_SECTION *section(unsigned char *storage) { return reinterpret_cast<CRITICAL_SECTION *>(storage); }

recursive_lock::recursive_lock() { InitializeCriticalSection(section(storage_)); }
recursive_lock::~recursive_lock() { DeleteCriticalSection(section(storage_)); }

// Since Windows Vista entering a critical section raises no exception (low memory no longer
// does); what is left, EXCEPTION_POSSIBLE_DEADLOCK after a wait of the system's critical-section
// timeout, is a debugging aid that Microsoft says not to handle. So entering always succeeds.
int16_t recursive_lock::enter() noexcept
{
    EnterCriticalSection(section(storage_));
    return 0;
}

// Leaving a section this thread does not hold would corrupt it: a host that releases the
// library's lock more often than it took it gets an error instead.
int16_t recursive_lock::leave() noexcept
{
    CRITICAL_SECTION *held = section(storage_);
    if (reinterpret_cast<ULONG_PTR>(held->OwningThread) != GetCurrentThreadId())
        return -10203;
    LeaveCriticalSection(held);
    return 0;
}

// ---- Events -------------------------------------------------------------------------------------

static HANDLE os_handle(event_handle event) { return reinterpret_cast<HANDLE>(event); }

event_handle event_create() noexcept
{
    return reinterpret_cast<event_handle>(CreateEventA(nullptr, TRUE, FALSE, nullptr));
}

void event_close(event_handle event) noexcept
{
    if (event)
        CloseHandle(os_handle(event));
}

void event_set(event_handle event) noexcept
{
    if (event)
        SetEvent(os_handle(event));
}

void event_reset(event_handle event) noexcept
{
    if (event)
        ResetEvent(os_handle(event));
}

bool event_is_set(event_handle event) noexcept
{
    return event && WaitForSingleObject(os_handle(event), 0) == WAIT_OBJECT_0;
}

int event_wait(event_handle event, uint32_t timeout_ms) noexcept { return event_wait_any(&event, 1, timeout_ms); }

int event_wait_any(const event_handle *events, std::size_t count, uint32_t timeout_ms) noexcept
{
    if (!events || count == 0 || count > max_wait_events)
        return wait_failed;
    HANDLE handles[max_wait_events];
    for (std::size_t i = 0; i < count; ++i) {
        // The system documents the rule (no handle twice); refusing it here makes every
        // platform, and every version of Windows, answer alike.
        if (!events[i] || std::find(events, events + i, events[i]) != events + i)
            return wait_failed;
        handles[i] = os_handle(events[i]);
    }
    const DWORD result = WaitForMultipleObjects(static_cast<DWORD>(count), handles, FALSE, timeout_ms);
    if (result < WAIT_OBJECT_0 + count)
        return static_cast<int>(result - WAIT_OBJECT_0);
    return result == WAIT_TIMEOUT ? wait_timeout : wait_failed;
}

// ---- Threads ------------------------------------------------------------------------------------

namespace {
struct thread_start_record {
    thread_function function;
    void *argument;
    HMODULE module; // the library's module, loaded once more for as long as the thread runs
};

// A host may unload the library (FreeLibrary) while one of its threads still runs; the module is
// kept until the thread is done, and the thread's last call unloads it and ends the thread
// without returning into code that may be gone by then.
DWORD WINAPI thread_entry(void *record_pointer)
{
    const thread_start_record record = *static_cast<thread_start_record *>(record_pointer);
    delete static_cast<thread_start_record *>(record_pointer);
    const unsigned code = record.function(record.argument);
    FreeLibraryAndExitThread(record.module, code);
}
} // namespace

// CreateThread, not _beginthreadex: the C runtime is a system DLL that sets up and frees its
// per-thread data itself, and a thread that ends in FreeLibraryAndExitThread never returns to
// _beginthreadex's ending.
thread_handle thread_start(thread_function function, void *argument) noexcept
{
    auto *record = new (std::nothrow) thread_start_record{function, argument, nullptr};
    if (!record)
        return nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(reinterpret_cast<const void *>(&thread_entry)), &record->module)) {
        delete record;
        return nullptr;
    }
    HANDLE handle = CreateThread(nullptr, 0, thread_entry, record, 0, nullptr);
    if (!handle) {
        FreeLibrary(record->module);
        delete record;
        return nullptr;
    }
    return reinterpret_cast<thread_handle>(handle);
}

// Only a wait that saw the thread end says so; a failed wait (a bad handle) is no end.
bool thread_join(thread_handle thread, uint32_t timeout_ms) noexcept
{
    return !thread || WaitForSingleObject(reinterpret_cast<HANDLE>(thread), timeout_ms) == WAIT_OBJECT_0;
}

void thread_release(thread_handle thread) noexcept
{
    if (thread)
        CloseHandle(reinterpret_cast<HANDLE>(thread));
}

// ---- Time, system queries, debug output ---------------------------------------------------------

uint32_t tick_count() noexcept { return GetTickCount(); }

void sleep_ms(uint32_t ms) noexcept { Sleep(ms); }

uint16_t os_version_class() noexcept
{
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info; // 148 bytes
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    GetVersionExA(&info); // its own result is not needed: a failed query leaves zeros, class 0x0100
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    return classify_windows_version(info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion,
                                    info.szCSDVersion[1]);
}

void utf16_to_ansi(const uint16_t *text, char *buffer, std::size_t capacity) noexcept
{
    if (!text || !buffer || capacity == 0)
        return;
    WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<const wchar_t *>(text), -1, buffer,
                        static_cast<int>(capacity > 0x7FFFFFFF ? 0x7FFFFFFF : capacity), nullptr, nullptr);
}

void write_debugger_line(const char *line) noexcept { OutputDebugStringA(line); }

} // namespace kv4
