// The hidraw backend's devices: listing, opening, strings, capabilities and feature reports.
#include "platform/linux/hidraw.h"
#include "platform/linux/usb_string.h"
#include "platform/text.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <libudev.h>
#include <linux/hidraw.h>
#include <memory>
#include <mutex>
#include <new>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace kv4 {

namespace {

constexpr uint32_t error_file_not_found = 2;
constexpr uint32_t error_access_denied = 5;
constexpr uint32_t error_gen_failure = 31;
constexpr uint32_t error_device_not_connected = 1167;

// libudev's objects are not shared between threads: every call makes its own. Its hidden state
// is not safe either (two threads' first hash tables seed one table of its own), so every use
// of libudev takes udev_guard(), and nothing of the core's is called while it is held.
struct udev_deleter {
    void operator()(udev *u) const noexcept { udev_unref(u); }
    void operator()(udev_device *d) const noexcept { udev_device_unref(d); }
    void operator()(udev_enumerate *e) const noexcept { udev_enumerate_unref(e); }
};
template <typename T> using udev_ptr = std::unique_ptr<T, udev_deleter>;

// The sysfs record of a hidraw node, by its device number, looked up with libudev held; device is
// null when the system has none. Its parents belong to it and live as long as it does.
struct hidraw_record {
    explicit hidraw_record(dev_t node)
        : device(context ? udev_device_new_from_devnum(context.get(), 'c', node) : nullptr)
    {
        const char *subsystem = device ? udev_device_get_subsystem(device.get()) : nullptr;
        if (!subsystem || std::strcmp(subsystem, "hidraw") != 0)
            device.reset();
    }
    udev_device *parent(const char *subsystem, const char *devtype) const
    {
        return device ? udev_device_get_parent_with_subsystem_devtype(device.get(), subsystem, devtype) : nullptr;
    }
    udev_device *usb() const { return parent("usb", "usb_device"); } // null when not on USB
    udev_device *hid() const { return parent("hid", nullptr); }

    std::lock_guard<std::mutex> guard{udev_guard()};
    udev_ptr<udev> context{udev_new()};
    udev_ptr<udev_device> device;
};

// A string of the device: the USB device's attribute when it is on USB, else the HID device's
// property.
bool device_string(hid_handle handle, const char *usb_attribute, const char *hid_property, uint16_t *buffer,
                   std::size_t capacity)
{
    try {
        std::u16string text;
        {
            const hidraw_record record(handle->node);
            const char *found = nullptr;
            if (udev_device *usb = record.usb())
                found = udev_device_get_sysattr_value(usb, usb_attribute);
            else if (udev_device *hid = record.hid())
                found = udev_device_get_property_value(hid, hid_property);
            if (!found)
                return false;
            text = utf8_to_utf16(found);
        }
        return copy_utf16(text, buffer, capacity);
    } catch (const std::bad_alloc &) {
        return false;
    }
}

// The node a device path names: /dev/ and the path's last name (hidrawN).
bool node_of(const char *path, char (&node)[64])
{
    const char *name = std::strrchr(path, '/');
    return name && std::strncmp(name, "/hidraw", 7) == 0 &&
           std::snprintf(node, sizeof node, "/dev%s", name) < static_cast<int>(sizeof node);
}

// The device number of the node while the device the path names is attached, from its sysfs
// record; false once that device is gone, whoever has the node now.
bool attached_number(const char *path, dev_t &number)
{
    char attribute[4096];
    if (std::snprintf(attribute, sizeof attribute, "%s/dev", path) >= static_cast<int>(sizeof attribute))
        return false;
    const int fd = ::open(attribute, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char text[32] = "";
    const ssize_t n = read(fd, text, sizeof text - 1);
    ::close(fd);
    unsigned node_major = 0, node_minor = 0;
    if (n <= 0 || std::sscanf(text, "%u:%u", &node_major, &node_minor) != 2)
        return false;
    number = makedev(node_major, node_minor);
    return true;
}

// Reads and parses the node's report descriptor.
bool describe(hid_device_object &device)
{
    int size = 0;
    hidraw_report_descriptor raw{};
    if (ioctl(device.fd, HIDIOCGRDESCSIZE, &size) < 0 || size <= 0 || size > HID_MAX_DESCRIPTOR_SIZE)
        return false;
    raw.size = static_cast<uint32_t>(size);
    if (ioctl(device.fd, HIDIOCGRDESC, &raw) < 0)
        return false;
    try {
        return parse_report_descriptor(raw.value, raw.size, device.descriptor);
    } catch (const std::bad_alloc &) {
        return false;
    }
}

} // namespace

std::mutex &udev_guard() noexcept
{
    static std::mutex guard;
    return guard;
}

uint32_t windows_error(int error) noexcept
{
    switch (error) {
    case ENOENT: return error_file_not_found;
    case EACCES:
    case EPERM: return error_access_denied;
    case EWOULDBLOCK: return error_sharing_violation;
    case ENODEV:
    case ENXIO:
    case EIO:
    case EPIPE:
    case ESHUTDOWN: return error_device_not_connected;
    default: return error_gen_failure;
    }
}

void hidraw_services::list_paths(void (*visit)(const char *path, void *context), void *context)
{
    std::vector<std::string> paths; // visited after libudev is let go: the core identifies each
    try {
        std::lock_guard<std::mutex> guard(udev_guard());
        udev_ptr<udev> u(udev_new());
        udev_ptr<udev_enumerate> enumerate(u ? udev_enumerate_new(u.get()) : nullptr);
        if (!enumerate || udev_enumerate_add_match_subsystem(enumerate.get(), "hidraw") < 0 ||
            udev_enumerate_scan_devices(enumerate.get()) < 0)
            return;
        udev_list_entry *entry;
        udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get()))
            paths.emplace_back(udev_list_entry_get_name(entry));
    } catch (const std::bad_alloc &) {
        return;
    }
    for (const std::string &path : paths)
        visit(path.c_str(), context);
}

bool hidraw_services::check_present(const char *path)
{
    char node[64];
    dev_t number = 0;
    struct stat status {};
    return path && node_of(path, node) && attached_number(path, number) && stat(node, &status) == 0 &&
           S_ISCHR(status.st_mode) && status.st_rdev == number;
}

hid_handle hidraw_services::open(const char *path, hid_access access, uint32_t *last_error)
{
    auto fail = [last_error](uint32_t error) -> hid_handle {
        if (last_error)
            *last_error = error;
        return nullptr;
    };
    char node[64];
    if (!path || !node_of(path, node))
        return fail(error_file_not_found);
    const int flags = (access == hid_access::transfer ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC;
    const int fd = ::open(node, flags);
    if (fd < 0)
        return fail(windows_error(errno));
    // The device the path names still has the node after it was opened, so it had it all along: a
    // device that is gone never comes back under its name, and while it is attached its node is
    // no other's.
    struct stat status {};
    dev_t number = 0;
    uint32_t error = 0;
    if (fstat(fd, &status) != 0)
        error = windows_error(errno);
    else if (!attached_number(path, number) || number != status.st_rdev)
        error = error_file_not_found;
    else if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        error = windows_error(errno);
    if (error) {
        ::close(fd);
        return fail(error);
    }
    auto *device = new (std::nothrow) hid_device_object;
    if (!device) {
        ::close(fd);
        return fail(error_gen_failure);
    }
    device->fd = fd;
    device->node = status.st_rdev;
    if (access == hid_access::transfer)
        device->described = describe(*device);
    return device;
}

void hidraw_services::close(hid_handle handle)
{
    if (!handle)
        return;
    cancel_io(handle);
    if (hand_over_to_writer(handle))
        return;
    ::close(handle->fd); // releases the lock too
    delete handle;
}

uint32_t hidraw_services::last_error(hid_handle handle) { return handle ? handle->error.load() : 0; }

bool hidraw_services::product_string(hid_handle handle, uint16_t *buffer, std::size_t capacity)
{
    return handle && device_string(handle, "product", "HID_NAME", buffer, capacity);
}

bool hidraw_services::serial_string(hid_handle handle, uint16_t *buffer, std::size_t capacity)
{
    return handle && device_string(handle, "serial", "HID_UNIQ", buffer, capacity);
}

bool hidraw_services::indexed_string(hid_handle handle, unsigned index, uint16_t *buffer, std::size_t capacity)
{
    if (!handle)
        return false;
    char node[64] = ""; // /dev/bus/usb/BBB/DDD; the transfer is made after libudev is let go
    {
        const hidraw_record record(handle->node);
        udev_device *usb = record.usb();
        const char *found = usb ? udev_device_get_devnode(usb) : nullptr;
        if (!found || std::strlen(found) >= sizeof node)
            return false;
        std::strcpy(node, found);
    }
    return read_usb_string(node, index, buffer, capacity);
}

bool hidraw_services::product_id(hid_handle handle, uint16_t *product_id)
{
    hidraw_devinfo info{};
    if (!handle || !product_id || ioctl(handle->fd, HIDIOCGRAWINFO, &info) < 0)
        return false;
    *product_id = static_cast<uint16_t>(info.product);
    return true;
}

hid_preparsed hidraw_services::get_preparsed(hid_handle handle)
{
    if (!handle || !handle->described)
        return nullptr;
    return reinterpret_cast<hid_preparsed>(new (std::nothrow) descriptor_caps(handle->descriptor));
}

bool hidraw_services::get_caps(hid_preparsed preparsed, hid_caps *caps)
{
    if (!preparsed || !caps)
        return false;
    *caps = reinterpret_cast<const descriptor_caps *>(preparsed)->caps;
    return true;
}

bool hidraw_services::get_value_caps(hid_preparsed preparsed, hid_report_type type, hid_value_cap *caps,
                                     uint16_t *count)
{
    if (!preparsed || !caps || !count)
        return false;
    const auto &values = reinterpret_cast<const descriptor_caps *>(preparsed)->values[static_cast<int>(type)];
    const std::size_t n = std::min<std::size_t>(values.size(), *count);
    std::copy(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(n), caps);
    *count = static_cast<uint16_t>(n);
    return true;
}

void hidraw_services::free_preparsed(hid_preparsed preparsed) { delete reinterpret_cast<descriptor_caps *>(preparsed); }

bool hidraw_services::flush_input(hid_handle handle)
{
    if (!handle)
        return false;
    // Asked before every command, and the queue is nearly always empty: a poll answers that for
    // less than a read, which passes the file permission checks. The kernel queues at most 64
    // reports a reader; a device that keeps sending is not waited out.
    pollfd queued{handle->fd, POLLIN, 0};
    uint8_t discard[4096];
    for (int i = 0; i < 256 && poll(&queued, 1, 0) == 1; ++i) {
        if (!(queued.revents & POLLIN) || (read(handle->fd, discard, sizeof discard) < 0 && errno != EAGAIN)) {
            handle->error = windows_error(queued.revents & POLLIN ? errno : EIO);
            return false;
        }
    }
    return true;
}

bool hidraw_services::set_feature(hid_handle handle, const uint8_t *buffer, uint16_t length)
{
    if (!handle || !buffer || length == 0)
        return false;
    const uint16_t sent = sent_length(handle->descriptor.feature_bytes, buffer, length);
    if (ioctl(handle->fd, HIDIOCSFEATURE(sent), buffer) < 0) {
        handle->error = windows_error(errno);
        return false;
    }
    return true;
}

hid_services &os_hid_services() noexcept
{
    static hidraw_services services;
    return services;
}

} // namespace kv4
