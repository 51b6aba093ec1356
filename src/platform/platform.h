// OS primitives: the only services of the operating system that the core uses besides the HID
// device services (hid_services.h). Each backend folder (win32/, linux/) implements every
// function declared here with the same names; the core never includes an OS header.
//
// Every function may be called from any thread unless its comment says otherwise.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kv4 {

// ---- Recursive lock -----------------------------------------------------------------------------
//
// A re-entrant lock: the holder may take it again, and each take is matched by one release.
// On Windows a critical section; on POSIX a recursive mutex (POSIX mutexes are not recursive by
// default, so the backend asks for it explicitly). The object is not copyable and must outlive
// every thread that may still take it.
class recursive_lock {
public:
    recursive_lock();
    ~recursive_lock();
    recursive_lock(const recursive_lock &) = delete;
    recursive_lock &operator=(const recursive_lock &) = delete;

    // Enter and leave return 0, or -10203 (TKCMDSET_MUTEX_FAILED_ERR) when the platform refuses
    // (a POSIX mutex past its recursion limit) or the thread leaves a lock it does not hold; no
    // exception leaves them. A Windows critical section raises none since Vista, so there
    // entering always succeeds.
    int16_t enter() noexcept;
    int16_t leave() noexcept;

private:
    alignas(16) unsigned char storage_[64];
};

// ---- Manual-reset events ------------------------------------------------------------------------
//
// An event stays signalled until it is reset. A null handle is "no event".
struct event_object;
using event_handle = event_object *;

// Creates an unnamed, non-signalled manual-reset event; null when the platform refuses.
event_handle event_create() noexcept;
// Releases an event. No thread may wait on it or signal it any more.
void event_close(event_handle event) noexcept;
void event_set(event_handle event) noexcept;
void event_reset(event_handle event) noexcept;
bool event_is_set(event_handle event) noexcept;

constexpr int wait_timeout = -1;
constexpr int wait_failed = -2;
// The most events one wait takes. Windows waits for at most 64 objects at once. poll() knows no
// such limit, and there it matters more: a hidraw read completes only while a thread waits on its
// event, so the I/O thread must be able to wait on its wake event and every port the registry can
// hold (255) at once.
#if defined(_WIN32)
constexpr std::size_t max_wait_events = 64;
#else
constexpr std::size_t max_wait_events = 256;
#endif

// Waits until the event is signalled: 0, wait_timeout or wait_failed.
int event_wait(event_handle event, uint32_t timeout_ms) noexcept;
// Waits until any of count (1 to max_wait_events) events is signalled and returns the lowest
// index that is signalled; wait_timeout or wait_failed (count out of range, a null event, one
// event twice).
int event_wait_any(const event_handle *events, std::size_t count, uint32_t timeout_ms) noexcept;

// ---- Threads ------------------------------------------------------------------------------------
struct thread_object;
using thread_handle = thread_object *;
using thread_function = unsigned (*)(void *argument);

// Starts a thread running function(argument); null when the platform refuses. On Windows the
// thread keeps the library's module loaded until it has ended, so that a host unloading the
// library while the thread runs does not pull its code from under it.
thread_handle thread_start(thread_function function, void *argument) noexcept;
// Waits up to timeout_ms for the thread to end; true when it has ended, false on a time-out or a
// failed wait. Does not release it.
bool thread_join(thread_handle thread, uint32_t timeout_ms) noexcept;
// Releases the handle. A thread that is still running goes on by itself.
void thread_release(thread_handle thread) noexcept;

// ---- Time ---------------------------------------------------------------------------------------

// Milliseconds since an arbitrary start; wraps at 2^32.
uint32_t tick_count() noexcept;
void sleep_ms(uint32_t ms) noexcept;

// ---- System queries -----------------------------------------------------------------------------

// Class of the running Windows version: high byte the family (1), low byte an index; 0x0100 on
// every platform that is not Windows.
uint16_t os_version_class() noexcept;

// The class for a version as the Windows version query reports it: platform identifier, major and
// minor version, and the second character of the service-pack text. Shared by every backend so
// that the table can be checked anywhere.
uint16_t classify_windows_version(uint32_t platform_id, uint32_t major, uint32_t minor, char mark) noexcept;

// Converts a NUL-terminated UTF-16 text to the system's 8-bit code page (the ANSI code page on
// Windows, UTF-8 elsewhere), terminator included, writing at most capacity bytes. What the buffer
// holds when the text does not fit is unspecified, but nothing is written past capacity.
void utf16_to_ansi(const uint16_t *text, char *buffer, std::size_t capacity) noexcept;

// The library module's instance handle, recorded when the process loads the library and cleared
// when it unloads it; null in a program that links the library statically.
void *module_instance() noexcept;
void set_module_instance(void *instance) noexcept;

// ---- Debug output -------------------------------------------------------------------------------

// Writes one fixed diagnostic line to the sink installed below, or without one to the debugger
// channel (OutputDebugStringA on Windows; silent elsewhere).
void debug_line(const char *line) noexcept;

// debug_line with a printf-style format; the line is cut at 255 characters.
void debug_format(const char *format, ...) noexcept
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Installs a receiver of every debug line in place of the debugger channel; null removes it. Lines
// reach the sink one at a time, and none after it was replaced.
using debug_sink = void (*)(void *context, const char *line);
void set_debug_sink(debug_sink sink, void *context) noexcept;

} // namespace kv4
