// A simulated monitor as a configfs USB gadget with usb_f_hid functions.
#include "gadget_monitor.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace kv4sim_uhid {

namespace {

const char gadgets[] = "/sys/kernel/config/usb_gadget";
const char manufacturer[] = "KV4USBCP simulator";
constexpr unsigned configurations = 3; // firmware, hardware and boot-loader versions, one each

std::string first_line(const std::string &path)
{
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

// A configfs attribute takes its value in one write.
bool put(const std::string &path, const std::string &value)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool written = write(fd, value.data(), value.size()) == static_cast<ssize_t>(value.size());
    close(fd);
    return written;
}

std::string hex(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
}

std::string function_name(unsigned i) { return "hid.usb" + std::to_string(i); }
std::string configuration_name(unsigned i) { return "c." + std::to_string(i + 1); }

// What a read from hidgN holds: a feature report when its ID is one of the layout's feature
// reports and none of its output reports.
bool feature_report(const std::vector<kv4sim_value_cap> &caps, uint8_t report_id)
{
    bool feature = false;
    for (const kv4sim_value_cap &cap : caps)
        if (cap.report_id == report_id) {
            if (cap.type == KV4SIM_OUTPUT)
                return false;
            feature = feature || cap.type == KV4SIM_FEATURE;
        }
    return feature;
}

// The hidraw node of a HID device under a host controller's sysfs directory with this serial, and
// the sysfs directory of its USB device; empty when there is none yet.
std::string hidraw_node(const std::string &host, const std::string &serial, std::string &usb_device)
{
    DIR *dir = opendir("/sys/class/hidraw");
    std::string node;
    char real[PATH_MAX];
    while (const dirent *entry = dir && node.empty() ? readdir(dir) : nullptr) {
        const std::string device = std::string("/sys/class/hidraw/") + entry->d_name + "/device";
        if (!realpath(device.c_str(), real) || std::string(real).rfind(host, 0) != 0)
            continue;
        std::ifstream uevent(device + "/uevent");
        for (std::string line; node.empty() && std::getline(uevent, line);)
            if (line == "HID_UNIQ=" + serial)
                node = std::string("/dev/") + entry->d_name;
    }
    if (dir)
        closedir(dir);
    // The HID device's parent is the interface, whose parent is the USB device.
    if (!node.empty()) {
        usb_device = real;
        for (int up = 0; up < 2; ++up)
            usb_device.erase(usb_device.rfind('/'));
    }
    return node;
}

} // namespace

gadget_monitor::gadget_monitor(unsigned number, uint16_t vendor_id, std::string udc, std::ostream &log)
    : served_monitor(number, vendor_id, log), udc_(std::move(udc)),
      dir_(std::string(gadgets) + "/kv4sim-" + std::to_string(getpid()) + "-" + std::to_string(number))
{
}

gadget_monitor::~gadget_monitor()
{
    unplug();
    remove();
}

bool gadget_monitor::make()
{
    struct stat info;
    // configfs is mounted by most systems that have it, but not by every minimal one.
    if (stat(gadgets, &info) != 0)
        mount("none", "/sys/kernel/config", "configfs", 0, nullptr);
    const std::string strings = "/strings/0x409";
    std::size_t largest = 0;
    for (uint8_t type : {KV4SIM_INPUT, KV4SIM_OUTPUT, KV4SIM_FEATURE})
        largest = std::max(largest, kv4::sim::report_bytes(model_.id.caps, type));
    const std::u16string *versions[configurations] = {&model_.id.fw_version, &model_.id.hw_version,
                                                      &model_.id.loader_version};
    made_ = true; // from here on remove() clears up whatever was made
    bool ok = mkdir(dir_.c_str(), 0755) == 0 && put(dir_ + "/idVendor", hex(vendor_id_)) &&
              put(dir_ + "/idProduct", hex(model_.id.product_id)) && put(dir_ + "/bcdDevice", hex(0x0100)) &&
              mkdir((dir_ + strings).c_str(), 0755) == 0 && put(dir_ + strings + "/manufacturer", manufacturer) &&
              put(dir_ + strings + "/product", utf8(model_.id.product)) &&
              put(dir_ + strings + "/serialnumber", utf8(model_.id.serial));
    for (unsigned i = 0; ok && i < configurations; ++i) {
        const std::string function = dir_ + "/functions/" + function_name(i);
        const std::string configuration = dir_ + "/configs/" + configuration_name(i);
        ok = mkdir(function.c_str(), 0755) == 0 && put(function + "/protocol", "0") &&
             put(function + "/subclass", "0") && put(function + "/no_out_endpoint", "1") &&
             put(function + "/report_length", std::to_string(largest)) &&
             put(function + "/report_desc", std::string(descriptor_.begin(), descriptor_.end())) &&
             mkdir(configuration.c_str(), 0755) == 0 && mkdir((configuration + strings).c_str(), 0755) == 0 &&
             put(configuration + strings + "/configuration", utf8(*versions[i])) &&
             symlink(function.c_str(), (configuration + "/" + function_name(i)).c_str()) == 0;
    }
    if (!ok)
        log_ << "monitor " << number_ << ": cannot make the gadget " << dir_ << ": " << std::strerror(errno)
             << " (modules libcomposite and usb_f_hid, and root?)" << std::endl;
    return ok;
}

// Removal goes in the reverse order of making: configfs removes no directory that still holds
// links or directories of its own.
void gadget_monitor::remove() noexcept
{
    if (!made_)
        return;
    const std::string strings = "/strings/0x409";
    for (unsigned i = configurations; i-- > 0;) {
        const std::string configuration = dir_ + "/configs/" + configuration_name(i);
        unlink((configuration + "/" + function_name(i)).c_str());
        rmdir((configuration + strings).c_str());
        rmdir(configuration.c_str());
    }
    for (unsigned i = configurations; i-- > 0;)
        rmdir((dir_ + "/functions/" + function_name(i)).c_str());
    rmdir((dir_ + strings).c_str());
    rmdir(dir_.c_str());
    made_ = false;
}

bool gadget_monitor::bind()
{
    if (!put(dir_ + "/UDC", udc_)) {
        log_ << "monitor " << number_ << ": cannot bind the gadget to " << udc_ << ": " << std::strerror(errno)
             << std::endl;
        return false;
    }
    // Each function's character device is made on binding; its minor number names it.
    for (unsigned i = 0; i < configurations; ++i) {
        const std::string dev = first_line(dir_ + "/functions/" + function_name(i) + "/dev");
        const std::string node = "/dev/hidg" + dev.substr(dev.find(':') + 1);
        const int fd = open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            log_ << "monitor " << number_ << ": cannot open " << node << ": " << std::strerror(errno) << std::endl;
            release();
            return false;
        }
        nodes_.push_back(fd);
    }
    return true;
}

bool gadget_monitor::plug()
{
    if (plugged())
        return true;
    if ((!made_ && !make()) || !bind()) {
        remove();
        return false;
    }
    log_ << "monitor " << number_ << " plugged: " << utf8(model_.id.product) << ", serial " << utf8(model_.id.serial)
         << ", USB gadget on " << udc_ << std::endl;
    announce_node();
    return true;
}

void gadget_monitor::release() noexcept
{
    for (int fd : nodes_)
        close(fd);
    nodes_.clear();
    put(dir_ + "/UDC", "\n"); // an empty write would not reach configfs
    // The host notices the disconnection a little later; the device is gone once it has, so that a
    // replug at once does not find the old hidraw node.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    struct stat info;
    while (!usb_device_.empty() && stat(usb_device_.c_str(), &info) == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    usb_device_.clear();
}

void gadget_monitor::unplug() noexcept
{
    if (!plugged())
        return;
    release();
    log_ << "monitor " << number_ << " unplugged" << std::endl;
}

// The host side of dummy_udc.N is dummy_hcd.N on this machine; the hidraw node is the one under
// it with this monitor's serial. Another controller's host is another machine.
void gadget_monitor::announce_node()
{
    const std::string dummy = "dummy_udc.";
    std::string node;
    // Enumeration, driver binding and the hidraw node take a while under emulation.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (udc_.rfind(dummy, 0) == 0 && node.empty() && std::chrono::steady_clock::now() < deadline) {
        node = hidraw_node("/sys/devices/platform/dummy_hcd." + udc_.substr(dummy.size()) + "/", utf8(model_.id.serial),
                           usb_device_);
        if (node.empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!node.empty()) {
        char usb_node[32];
        std::snprintf(usb_node, sizeof usb_node, "/dev/bus/usb/%03d/%03d",
                      std::atoi(first_line(usb_device_ + "/busnum").c_str()),
                      std::atoi(first_line(usb_device_ + "/devnum").c_str()));
        log_ << "monitor " << number_ << " usb device: " << usb_node << std::endl;
    }
    log_ << "monitor " << number_ << " ready: " << (node.empty() ? "no hidraw node" : node) << std::endl;
}

bool gadget_monitor::handle(int fd)
{
    uint8_t report[4096];
    const ssize_t n = read(fd, report, sizeof report);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return true;
    if (n < 0) {
        log_ << "monitor " << number_ << ": hidg read failed: " << std::strerror(errno) << std::endl;
        return false;
    }
    if (n == 0)
        return true;
    const std::size_t length = static_cast<std::size_t>(n);
    if (feature_report(model_.id.caps, report[0])) {
        take_feature(report[0], report, length);
        return true;
    }
    const uint8_t *input = nullptr;
    std::size_t input_length = 0;
    if (!answer_output(report, length, &input, &input_length))
        return true;
    // Busy while the host has not fetched the last answer (no one has the hidraw node open):
    // dropped, as the HID class driver drops input that no one reads.
    if (write(fd, input, input_length) != static_cast<ssize_t>(input_length))
        log_ << "monitor " << number_ << ": answer not sent: " << std::strerror(errno) << std::endl;
    return true;
}

} // namespace kv4sim_uhid
