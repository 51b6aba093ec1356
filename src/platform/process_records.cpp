// Process-wide records shared by every backend: the debug-line sink (the backend writes the line
// to its debugger channel) and the module instance.
#include "platform/platform.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace kv4 {

void write_debugger_line(const char *line) noexcept; // in the OS backend

namespace {
std::atomic<void *> module_handle{nullptr};
std::atomic<debug_sink> sink_function{nullptr};
std::atomic<void *> sink_context{nullptr};
} // namespace

void debug_line(const char *line) noexcept
{
    write_debugger_line(line);
    if (debug_sink sink = sink_function.load(std::memory_order_acquire))
        sink(line, sink_context.load(std::memory_order_relaxed));
}

void debug_format(const char *format, ...) noexcept
{
    char line[256];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    debug_line(line);
}

void set_debug_sink(debug_sink sink, void *context) noexcept
{
    sink_context.store(context, std::memory_order_relaxed);
    sink_function.store(sink, std::memory_order_release);
}

void *module_instance() noexcept { return module_handle.load(); }
void set_module_instance(void *instance) noexcept { module_handle.store(instance); }

} // namespace kv4
