// Process-wide records shared by every backend: the debug-line sink (the backend writes the line
// to its debugger channel) and the module instance.
#include "platform/platform.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace kv4 {

void write_debugger_line(const char *line) noexcept; // in the OS backend

namespace {
std::atomic<void *> module_handle{nullptr};
// The sink and its context change together, and a sink is not called after it was replaced.
std::recursive_mutex sink_guard;
debug_sink sink_function = nullptr;
void *sink_context = nullptr;
} // namespace

void debug_line(const char *line) noexcept
{
    std::lock_guard<std::recursive_mutex> guard(sink_guard);
    if (sink_function)
        sink_function(sink_context, line);
    else
        write_debugger_line(line);
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
    std::lock_guard<std::recursive_mutex> guard(sink_guard);
    sink_function = sink;
    sink_context = context;
}

void *module_instance() noexcept { return module_handle.load(); }
void set_module_instance(void *instance) noexcept { module_handle.store(instance); }

} // namespace kv4
