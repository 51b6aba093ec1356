// Devices retired while a library thread ran, destroyed when the last one ends.
#include "usb/custody.h"

#include <mutex>
#include <new>
#include <vector>

namespace kv4 {

namespace {
std::mutex custody_guard;
unsigned threads_running = 0;
std::vector<win32_device *> retired;
} // namespace

void library_thread_starting()
{
    std::lock_guard<std::mutex> guard(custody_guard);
    ++threads_running;
}

void library_thread_ended()
{
    std::vector<win32_device *> keep;
    {
        std::lock_guard<std::mutex> guard(custody_guard);
        if (--threads_running == 0)
            keep.swap(retired);
    }
    for (win32_device *device : keep)
        delete device;
}

void for_each_retired(void (*visit)(win32_device *device, void *context), void *context)
{
    std::lock_guard<std::mutex> guard(custody_guard);
    for (win32_device *device : retired)
        visit(device, context);
}

void retire_device(win32_device *device)
{
    {
        std::lock_guard<std::mutex> guard(custody_guard);
        if (threads_running != 0) {
            try {
                retired.push_back(device);
            } catch (const std::bad_alloc &) {
                // Without room to keep it, it is kept for good rather than freed under a thread.
            }
            return;
        }
    }
    delete device;
}

} // namespace kv4
