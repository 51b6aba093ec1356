// A simulated monitor as a configfs USB gadget with a FunctionFS function served from here.
#include "gadget_monitor.h"

#include <linux/usb/functionfs.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <endian.h>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace kv4sim_uhid {

namespace {

const char gadgets[] = "/sys/kernel/config/usb_gadget";
const char manufacturer[] = "KV4USBCP simulator";
const char strings_dir[] = "/strings/0x409";
const char configuration_dir[] = "/configs/c.1";

// The HID class's descriptor types, requests and report types (in SET_REPORT and GET_REPORT's
// wValue high byte).
constexpr uint8_t hid_descriptor = 0x21, report_descriptor_type = 0x22;
constexpr uint8_t get_report = 0x01, set_idle = 0x0A, set_report = 0x09;
constexpr uint8_t input_report = 1, output_report = 2, feature_report = 3;
constexpr uint8_t interface_in = USB_DIR_IN | USB_RECIP_INTERFACE,
                  class_interface_out = USB_DIR_OUT | USB_TYPE_CLASS | USB_RECIP_INTERFACE,
                  class_interface_in = USB_DIR_IN | USB_TYPE_CLASS | USB_RECIP_INTERFACE;
constexpr uint8_t max_packet = 64;
// Room for the largest output report in whole packets: FunctionFS drops what an asynchronous read
// of an odd size cannot hold.
constexpr std::size_t out_buffer_bytes = 4096;

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

bool put_all(int fd, const std::vector<uint8_t> &data)
{
    return write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size());
}

std::string hex(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
}

void le16(std::vector<uint8_t> &out, unsigned value)
{
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void le32(std::vector<uint8_t> &out, uint32_t value)
{
    le16(out, value & 0xFFFF);
    le16(out, value >> 16);
}

// The class descriptor that tells the host the report descriptor's length.
std::vector<uint8_t> hid_class_descriptor(std::size_t report_descriptor_length)
{
    std::vector<uint8_t> out = {9, hid_descriptor, 0x11, 0x01, 0, 1, report_descriptor_type};
    le16(out, static_cast<unsigned>(report_descriptor_length));
    return out;
}

// FunctionFS's descriptor block: the same interface at full and at high speed. Endpoint 1 (ep1) is
// IN, endpoint 2 (ep2) OUT; FunctionFS maps them to the controller's.
std::vector<uint8_t> function_descriptors(std::size_t report_descriptor_length)
{
    std::vector<uint8_t> one = {// Over the one interface, only so that string 2 (the boot-loader version) is named.
                                USB_DT_INTERFACE_ASSOCIATION_SIZE, USB_DT_INTERFACE_ASSOCIATION, 0, 1, USB_CLASS_HID, 0,
                                0, 2,
                                // No subclass or protocol: not a boot device. The interface string is string 1.
                                USB_DT_INTERFACE_SIZE, USB_DT_INTERFACE, 0, 0, 2, USB_CLASS_HID, 0, 0, 1};
    const std::vector<uint8_t> hid = hid_class_descriptor(report_descriptor_length);
    one.insert(one.end(), hid.begin(), hid.end());
    for (uint8_t address : {USB_DIR_IN | 1, USB_DIR_OUT | 2})
        one.insert(one.end(),
                   {USB_DT_ENDPOINT_SIZE, USB_DT_ENDPOINT, address, USB_ENDPOINT_XFER_INT, max_packet, 0, 1});
    constexpr uint32_t descriptors_per_speed = 5;
    std::vector<uint8_t> out;
    le32(out, FUNCTIONFS_DESCRIPTORS_MAGIC_V2);
    le32(out, static_cast<uint32_t>(5 * 4 + 2 * one.size()));
    le32(out, FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC);
    le32(out, descriptors_per_speed);
    le32(out, descriptors_per_speed);
    out.insert(out.end(), one.begin(), one.end());
    out.insert(out.end(), one.begin(), one.end());
    return out;
}

// FunctionFS's string block: US English only, each string NUL-terminated UTF-8.
std::vector<uint8_t> function_strings(const std::vector<std::string> &strings)
{
    std::vector<uint8_t> text;
    le16(text, 0x0409);
    for (const std::string &s : strings)
        text.insert(text.end(), s.c_str(), s.c_str() + s.size() + 1);
    std::vector<uint8_t> out;
    le32(out, FUNCTIONFS_STRINGS_MAGIC);
    le32(out, static_cast<uint32_t>(16 + text.size()));
    le32(out, static_cast<uint32_t>(strings.size()));
    le32(out, 1);
    out.insert(out.end(), text.begin(), text.end());
    return out;
}

// The length of report `id` of a type in the layout, report ID included; 0 when there is none.
std::size_t report_length(const std::vector<kv4sim_value_cap> &caps, uint8_t type, uint8_t id)
{
    for (const kv4sim_value_cap &cap : caps)
        if (cap.type == type && cap.report_id == id)
            return cap.report_count + 1u;
    return 0;
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

// Transfers that end because the endpoint was disabled or the request taken back: the device was
// unconfigured or unplugged, nothing went wrong.
bool ended_by_host(long result)
{
    return result == -ESHUTDOWN || result == -ECONNRESET || result == -EAGAIN || result == -ECANCELED;
}

} // namespace

gadget_monitor::gadget_monitor(unsigned number, uint16_t vendor_id, std::string udc, std::ostream &log)
    : served_monitor(number, vendor_id, log), udc_(std::move(udc)),
      dir_(std::string(gadgets) + "/kv4sim-" + std::to_string(getpid()) + "-" + std::to_string(number)),
      instance_("kv4sim-" + std::to_string(getpid()) + "-" + std::to_string(number)), out_buffer_(out_buffer_bytes)
{
}

gadget_monitor::~gadget_monitor()
{
    unplug();
    remove();
}

void gadget_monitor::log_error(const char *what) const
{
    log_ << "monitor " << number_ << ": " << what << ": " << std::strerror(errno) << std::endl;
}

bool gadget_monitor::make()
{
    struct stat info;
    // configfs is mounted by most systems that have it, but not by every minimal one.
    if (stat(gadgets, &info) != 0)
        mount("none", "/sys/kernel/config", "configfs", 0, nullptr);
    const std::string function = dir_ + "/functions/ffs." + instance_;
    const std::string configuration = dir_ + configuration_dir;
    made_ = true; // from here on remove() clears up whatever was made
    const bool ok =
        mkdir(dir_.c_str(), 0755) == 0 && put(dir_ + "/idVendor", hex(vendor_id_)) &&
        put(dir_ + "/idProduct", hex(model_.id.product_id)) && put(dir_ + "/bcdDevice", hex(0x0100)) &&
        mkdir((dir_ + strings_dir).c_str(), 0755) == 0 && put(dir_ + strings_dir + "/manufacturer", manufacturer) &&
        put(dir_ + strings_dir + "/product", utf8(model_.id.product)) &&
        put(dir_ + strings_dir + "/serialnumber", utf8(model_.id.serial)) && mkdir(function.c_str(), 0755) == 0 &&
        mkdir(configuration.c_str(), 0755) == 0 && mkdir((configuration + strings_dir).c_str(), 0755) == 0 &&
        put(configuration + strings_dir + "/configuration", utf8(model_.id.fw_version)) &&
        symlink(function.c_str(), (configuration + "/ffs." + instance_).c_str()) == 0;
    if (!ok) {
        log_ << "monitor " << number_ << ": cannot make the gadget " << dir_ << ": " << std::strerror(errno)
             << " (modules libcomposite and usb_f_fs, and root?)" << std::endl;
        return false;
    }
    return start_function();
}

bool gadget_monitor::start_function()
{
    char mount_point[] = "/tmp/kv4sim-ffs-XXXXXX";
    if (!mkdtemp(mount_point)) {
        log_error("cannot make a directory for FunctionFS");
        return false;
    }
    mount_ = mount_point;
    if (mount(instance_.c_str(), mount_.c_str(), "functionfs", 0, nullptr) != 0) {
        log_error(("cannot mount FunctionFS " + instance_ + " on " + mount_).c_str());
        rmdir(mount_.c_str());
        mount_.clear();
        return false;
    }
    // The endpoint files appear once ep0 has taken the descriptors and then the strings.
    if ((ep0_ = open((mount_ + "/ep0").c_str(), O_RDWR | O_CLOEXEC)) < 0 ||
        !put_all(ep0_, function_descriptors(descriptor_.size())) ||
        !put_all(ep0_, function_strings({utf8(model_.id.hw_version), utf8(model_.id.loader_version)}))) {
        log_error("FunctionFS refused the descriptors");
        return false;
    }
    // Non-blocking, so that a transfer submitted while the host has not configured the device fails
    // at once instead of waiting for it.
    if ((in_ = open((mount_ + "/ep1").c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC)) < 0 ||
        (out_ = open((mount_ + "/ep2").c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC)) < 0 ||
        (done_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) < 0 || syscall(SYS_io_setup, 2, &aio_) != 0) {
        log_error("cannot open the function's endpoints");
        return false;
    }
    return true;
}

// Removal goes in the reverse order of making: configfs removes no directory that still holds
// links or directories of its own, and FunctionFS keeps its instance while mounted.
void gadget_monitor::remove() noexcept
{
    if (!made_)
        return;
    if (aio_)
        syscall(SYS_io_destroy, aio_); // waits for what is still under way
    aio_ = 0;
    in_busy_ = out_busy_ = false;
    for (int *fd : {&in_, &out_, &done_, &ep0_})
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    if (!mount_.empty()) {
        umount(mount_.c_str());
        rmdir(mount_.c_str());
        mount_.clear();
    }
    const std::string configuration = dir_ + configuration_dir;
    unlink((configuration + "/ffs." + instance_).c_str());
    rmdir((configuration + strings_dir).c_str());
    rmdir(configuration.c_str());
    rmdir((dir_ + "/functions/ffs." + instance_).c_str());
    rmdir((dir_ + strings_dir).c_str());
    rmdir(dir_.c_str());
    made_ = false;
}

bool gadget_monitor::plug()
{
    if (plugged())
        return true;
    if (!made_ && !make()) {
        remove();
        return false;
    }
    if (!put(dir_ + "/UDC", udc_)) {
        log_ << "monitor " << number_ << ": cannot bind the gadget to " << udc_ << ": " << std::strerror(errno)
             << std::endl;
        return false;
    }
    bound_ = true;
    log_ << "monitor " << number_ << " plugged: " << utf8(model_.id.product) << ", serial " << utf8(model_.id.serial)
         << ", USB gadget on " << udc_ << std::endl;
    announce_node();
    return true;
}

void gadget_monitor::release() noexcept
{
    unbound_ = false;
    put(dir_ + "/UDC", "\n"); // an empty write would not reach configfs
    // FunctionFS says the function is unbound and ends its transfers; the host notices the
    // disconnection a little later. The device is gone once both have happened, so that a replug
    // at once does not find the old hidraw node or old transfers.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    struct stat info;
    while ((!unbound_ || in_busy_ || out_busy_ || (!usb_device_.empty() && stat(usb_device_.c_str(), &info) == 0)) &&
           std::chrono::steady_clock::now() < deadline)
        serve_for(20);
    usb_device_.clear();
    enabled_ = false;
    bound_ = false;
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
    // Enumeration, driver binding and the hidraw node take a while under emulation, and need the
    // control requests answered meanwhile.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (udc_.rfind(dummy, 0) == 0 && node.empty() && std::chrono::steady_clock::now() < deadline) {
        node = hidraw_node("/sys/devices/platform/dummy_hcd." + udc_.substr(dummy.size()) + "/", utf8(model_.id.serial),
                           usb_device_);
        if (node.empty())
            serve_for(20);
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

void gadget_monitor::serve_for(int ms)
{
    pollfd fds[] = {{ep0_, POLLIN, 0}, {done_, POLLIN, 0}};
    if (poll(fds, 2, ms) <= 0)
        return;
    for (const pollfd &p : fds)
        if (p.revents)
            handle(p.fd);
}

bool gadget_monitor::handle(int fd)
{
    if (fd == done_) {
        completed();
        return true;
    }
    return event();
}

// One event from ep0. poll() said there is one, so the read does not block.
bool gadget_monitor::event()
{
    usb_functionfs_event e;
    const ssize_t n = read(ep0_, &e, sizeof e);
    // EIDRM: the host gave up on a control request before it was read; another is on its way.
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EIDRM))
        return true;
    if (n != static_cast<ssize_t>(sizeof e)) {
        log_error("FunctionFS ep0 read failed");
        return false;
    }
    switch (e.type) {
    case FUNCTIONFS_ENABLE: // the host set the configuration
        enabled_ = true;
        read_output();
        break;
    case FUNCTIONFS_DISABLE: enabled_ = false; break;
    case FUNCTIONFS_UNBIND:
        enabled_ = false;
        unbound_ = true;
        break;
    case FUNCTIONFS_SETUP: control(e.u.setup); break;
    default: // bind, suspend, resume: nothing to do
        break;
    }
    return true;
}

void gadget_monitor::reply(const uint8_t *data, std::size_t length)
{
    // FunctionFS sends at most wLength; an IN request read instead of written is stalled.
    const ssize_t n = data ? write(ep0_, data, length) : read(ep0_, nullptr, 0);
    if (data && n < 0 && errno != EIDRM)
        log_error("control reply failed");
}

void gadget_monitor::control(const usb_ctrlrequest &setup)
{
    const unsigned value = le16toh(setup.wValue), length = le16toh(setup.wLength);
    const uint8_t id = value & 0xFF, report_type = static_cast<uint8_t>(value >> 8);
    if (verbose)
        log_ << "monitor " << number_ << " control request " << hex(setup.bRequestType) << " " << hex(setup.bRequest)
             << " value " << hex(value) << ", " << length << " bytes" << std::endl;
    if (setup.bRequestType == interface_in && setup.bRequest == USB_REQ_GET_DESCRIPTOR) {
        if (report_type == report_descriptor_type)
            return reply(descriptor_.data(), descriptor_.size());
        if (report_type == hid_descriptor) {
            const std::vector<uint8_t> hid = hid_class_descriptor(descriptor_.size());
            return reply(hid.data(), hid.size());
        }
    } else if (setup.bRequestType == class_interface_out && setup.bRequest == set_idle) {
        read(ep0_, nullptr, 0); // the status stage: idle rates mean nothing to a monitor
        return;
    } else if (setup.bRequestType == class_interface_out && setup.bRequest == set_report && length &&
               (report_type == output_report || report_type == feature_report)) {
        uint8_t report[4096];
        const ssize_t n = read(ep0_, report, std::min<std::size_t>(length, sizeof report));
        if (n <= 0)
            return log_error("SET_REPORT data not read");
        const uint8_t *input = nullptr;
        std::size_t input_length = 0;
        if (report_type == feature_report)
            take_feature(id, report, static_cast<std::size_t>(n));
        else if (answer_output(report, static_cast<std::size_t>(n), &input, &input_length))
            send_input(input, input_length);
        return;
    } else if (setup.bRequestType == class_interface_in && setup.bRequest == get_report &&
               (report_type == input_report || report_type == feature_report)) {
        // A report never set reads as its ID and zeros; one the layout lacks is refused.
        const std::size_t size =
            report_length(model_.id.caps, report_type == feature_report ? KV4SIM_FEATURE : KV4SIM_INPUT, id);
        const std::vector<uint8_t> *known = report_type == feature_report ? feature(id) : nullptr;
        if (known)
            return reply(known->data(), known->size());
        if (size) {
            std::vector<uint8_t> zeros(size);
            zeros[0] = id;
            return reply(zeros.data(), zeros.size());
        }
    }
    // Anything else is stalled: a transfer on ep0 against the request's direction stalls it.
    if (setup.bRequestType & USB_DIR_IN)
        reply(nullptr, 0);
    else
        write(ep0_, nullptr, 0);
}

bool gadget_monitor::submit(iocb &io, int fd, uint16_t opcode, uint8_t *buffer, std::size_t length)
{
    io = iocb{};
    io.aio_data = reinterpret_cast<uintptr_t>(&io);
    io.aio_lio_opcode = opcode;
    io.aio_fildes = static_cast<uint32_t>(fd);
    io.aio_buf = reinterpret_cast<uintptr_t>(buffer);
    io.aio_nbytes = length;
    io.aio_flags = IOCB_FLAG_RESFD;
    io.aio_resfd = static_cast<uint32_t>(done_);
    iocb *list[] = {&io};
    return syscall(SYS_io_submit, aio_, 1, list) == 1;
}

// An output report arrives as one interrupt OUT transfer; one read is always waiting for it while
// the host has the device configured.
void gadget_monitor::read_output()
{
    if (!enabled_ || out_busy_ || deaf_)
        return;
    out_busy_ = submit(out_io_, out_, IOCB_CMD_PREAD, out_buffer_.data(), out_buffer_.size());
    if (!out_busy_)
        log_error("cannot read the OUT endpoint");
}

bool gadget_monitor::take_no_reports(bool on)
{
    deaf_ = on;
    io_event cancelled;
    if (on && out_busy_) // its completion comes through the eventfd as any other
        syscall(SYS_io_cancel, aio_, &out_io_, &cancelled);
    read_output();
    return true;
}

void gadget_monitor::send_input(const uint8_t *report, std::size_t length)
{
    // One answer at a time, as the host fetches it; while one waits (no one has the hidraw node
    // open) the next is dropped, as the HID class driver drops input that no one reads.
    if (!enabled_ || in_busy_) {
        log_ << "monitor " << number_ << ": answer not sent: "
             << (in_busy_ ? "the host has not fetched the last one" : "the device is not configured") << std::endl;
        return;
    }
    in_buffer_.assign(report, report + length);
    in_busy_ = submit(in_io_, in_, IOCB_CMD_PWRITE, in_buffer_.data(), in_buffer_.size());
    if (!in_busy_)
        log_error("answer not sent");
}

void gadget_monitor::completed()
{
    uint64_t count;
    if (read(done_, &count, sizeof count) != sizeof count)
        return;
    io_event events[2];
    timespec now{};
    const long n = syscall(SYS_io_getevents, aio_, 1, 2, events, &now);
    for (long i = 0; i < n; ++i) {
        const long result = static_cast<long>(events[i].res);
        if (events[i].data == reinterpret_cast<uintptr_t>(&in_io_)) {
            in_busy_ = false;
            if (result < 0 && !ended_by_host(result))
                log_ << "monitor " << number_ << ": answer not sent: " << std::strerror(static_cast<int>(-result))
                     << std::endl;
            continue;
        }
        out_busy_ = false;
        if (result < 0 && !ended_by_host(result)) {
            // Not read again until the host configures the device anew, so as not to spin on it.
            log_ << "monitor " << number_ << ": OUT endpoint read failed: " << std::strerror(static_cast<int>(-result))
                 << std::endl;
            continue;
        }
        const uint8_t *input = nullptr;
        std::size_t input_length = 0;
        if (result > 0 && answer_output(out_buffer_.data(), static_cast<std::size_t>(result), &input, &input_length))
            send_input(input, input_length);
        read_output();
    }
}

} // namespace kv4sim_uhid
