// The hidraw backend's plug events: a libudev monitor of the hidraw subsystem, read by a thread of
// its own that hands each arrival and removal to the device-change source.
#include "platform/device_change.h"
#include "platform/linux/hidraw.h"

#include <cstring>
#include <libudev.h>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace kv4 {

namespace {

struct plug_watch {
    udev *context = nullptr;
    udev_monitor *monitor = nullptr;
    int stop_fd = -1;
    std::thread thread;

    void release() noexcept
    {
        std::lock_guard<std::mutex> guard(udev_guard());
        if (monitor)
            udev_monitor_unref(monitor);
        if (context)
            udev_unref(context);
        if (stop_fd >= 0)
            close(stop_fd);
        *this = plug_watch{};
    }
};

std::mutex watch_guard; // guards the watch: starting and stopping
// Never destroyed: a process that ends while watching must not stop on a joinable thread.
plug_watch &the_watch = *new plug_watch;

// Takes one announcement off the monitor and hands an arrival or a removal on, once libudev is
// let go: the broadcast takes the device-change source's lock.
void forward(udev_monitor *monitor)
{
    uintptr_t event = 0;
    char path[4096] = ""; // the device path: the node's sysfs path, also in a removal's announcement
    {
        std::lock_guard<std::mutex> guard(udev_guard());
        udev_device *device = udev_monitor_receive_device(monitor);
        if (!device)
            return;
        const char *action = udev_device_get_action(device);
        const char *found = udev_device_get_syspath(device);
        if (action && found && std::strlen(found) < sizeof path) {
            event = std::strcmp(action, "add") == 0      ? dbt_device_arrival
                    : std::strcmp(action, "remove") == 0 ? dbt_device_remove_complete
                                                         : 0;
            std::strcpy(path, found);
        }
        udev_device_unref(device);
    }
    if (event)
        broadcast_interface(path, static_cast<uint32_t>(event));
}

void run(udev_monitor *monitor, int stop_fd)
{
    pollfd polled[2] = {{udev_monitor_get_fd(monitor), POLLIN, 0}, {stop_fd, POLLIN, 0}};
    for (;;) {
        if (poll(polled, 2, -1) < 0)
            continue; // EINTR; poll fails otherwise only on bad arguments
        if (polled[1].revents)
            return;
        if (polled[0].revents)
            forward(monitor);
    }
}

} // namespace

bool hidraw_services::watch_plug_events(bool watch)
{
    std::lock_guard<std::mutex> guard(watch_guard);
    plug_watch &w = the_watch;
    if (!watch) {
        if (w.thread.joinable()) {
            static const uint64_t one = 1;
            (void)!write(w.stop_fd, &one, sizeof one);
            w.thread.join();
        }
        w.release();
        return true;
    }
    if (w.thread.joinable())
        return true;
    // The udev daemon announces a node once its rules have run, permissions included; without a
    // daemon (a container, a rescue system) the kernel's own announcements are all there is.
    const char *source = access("/run/udev/control", F_OK) == 0 ? "udev" : "kernel";
    bool listening;
    {
        std::lock_guard<std::mutex> udev_held(udev_guard());
        w.context = udev_new();
        w.monitor = w.context ? udev_monitor_new_from_netlink(w.context, source) : nullptr;
        w.stop_fd = eventfd(0, EFD_CLOEXEC);
        listening = w.monitor && w.stop_fd >= 0 &&
                    udev_monitor_filter_add_match_subsystem_devtype(w.monitor, "hidraw", nullptr) >= 0 &&
                    udev_monitor_enable_receiving(w.monitor) >= 0;
    }
    if (!listening) {
        w.release();
        return false;
    }
    try {
        w.thread = std::thread(run, w.monitor, w.stop_fd);
    } catch (...) {
        w.release();
        return false;
    }
    return true;
}

} // namespace kv4
