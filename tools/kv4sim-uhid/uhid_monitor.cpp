// A simulated monitor on the kernel's uhid interface.
#include "uhid_monitor.h"

#include <linux/uhid.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <thread>
#include <unistd.h>

namespace kv4sim_uhid {

namespace {

void copy_text(uint8_t *field, std::size_t capacity, const std::string &text)
{
    std::memcpy(field, text.data(), std::min(text.size(), capacity - 1));
}

// The hidraw node whose HID device has this phys text, as sysfs lists it; empty when none yet.
std::string hidraw_node(const std::string &phys)
{
    DIR *dir = opendir("/sys/class/hidraw");
    if (!dir)
        return {};
    std::string node;
    while (const dirent *entry = readdir(dir)) {
        std::ifstream uevent(std::string("/sys/class/hidraw/") + entry->d_name + "/device/uevent");
        for (std::string line; node.empty() && std::getline(uevent, line);)
            if (line == "HID_PHYS=" + phys)
                node = std::string("/dev/") + entry->d_name;
    }
    closedir(dir);
    return node;
}

} // namespace

uhid_monitor::uhid_monitor(unsigned number, uint16_t vendor_id, std::ostream &log)
    : served_monitor(number, vendor_id, log),
      phys_("kv4sim-uhid-" + std::to_string(getpid()) + "/" + std::to_string(number))
{
}

bool uhid_monitor::plug()
{
    if (plugged())
        return true;
    fd_ = open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (fd_ < 0) {
        log_ << "monitor " << number_ << ": cannot open /dev/uhid: " << std::strerror(errno) << std::endl;
        return false;
    }
    uhid_event event{};
    event.type = UHID_CREATE2;
    uhid_create2_req &create = event.u.create2;
    copy_text(create.name, sizeof create.name, utf8(model_.id.product));
    copy_text(create.phys, sizeof create.phys, phys_);
    copy_text(create.uniq, sizeof create.uniq, utf8(model_.id.serial));
    create.rd_size = static_cast<uint16_t>(descriptor_.size());
    std::memcpy(create.rd_data, descriptor_.data(), descriptor_.size());
    create.bus = 0x03; // USB, so that hosts take it for what a monitor is
    create.vendor = vendor_id_;
    create.product = model_.id.product_id;
    create.version = 0x0100;
    if (!send(&event, sizeof event)) {
        unplug();
        return false;
    }
    log_ << "monitor " << number_ << " plugged: " << utf8(model_.id.product) << ", serial " << utf8(model_.id.serial)
         << std::endl;
    return true;
}

void uhid_monitor::unplug() noexcept
{
    if (!plugged())
        return;
    uhid_event event{};
    event.type = UHID_DESTROY;
    send(&event, sizeof event); // closing destroys it too; this says so at once
    close(fd_);
    fd_ = -1;
    log_ << "monitor " << number_ << " unplugged" << std::endl;
}

bool uhid_monitor::send(const void *event, std::size_t size)
{
    if (write(fd_, event, size) == static_cast<ssize_t>(size))
        return true;
    log_ << "monitor " << number_ << ": uhid write failed: " << std::strerror(errno) << std::endl;
    return false;
}

void uhid_monitor::announce_node()
{
    // The kernel adds the hidraw node just after it starts the device.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    std::string node;
    while ((node = hidraw_node(phys_)).empty() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    log_ << "monitor " << number_ << " ready: " << (node.empty() ? "no hidraw node" : node) << std::endl;
}

bool uhid_monitor::handle(int)
{
    uhid_event event{};
    const ssize_t n = read(fd_, &event, sizeof event);
    if (n <= 0)
        return n < 0 && errno == EINTR;
    uhid_event reply{};
    switch (event.type) {
    case UHID_START: announce_node(); break;
    case UHID_OUTPUT:
        reply_output(event.u.output.data, std::min<std::size_t>(event.u.output.size, UHID_DATA_MAX));
        break;
    case UHID_SET_REPORT: {
        const uhid_set_report_req &set = event.u.set_report;
        const std::size_t length = std::min<std::size_t>(set.size, UHID_DATA_MAX);
        if (set.rtype == UHID_OUTPUT_REPORT)
            reply_output(set.data, length);
        if (set.rtype == UHID_FEATURE_REPORT)
            take_feature(set.rnum, set.data, length);
        reply.type = UHID_SET_REPORT_REPLY;
        reply.u.set_report_reply.id = set.id;
        return send(&reply, sizeof reply);
    }
    case UHID_GET_REPORT: {
        // A report never set reads as its ID and zeros; an unknown one is refused.
        const uhid_get_report_req &get = event.u.get_report;
        reply.type = UHID_GET_REPORT_REPLY;
        uhid_get_report_reply_req &answer = reply.u.get_report_reply;
        answer.id = get.id;
        const std::size_t size =
            kv4::sim::report_bytes(model_.id.caps, get.rtype == UHID_FEATURE_REPORT  ? KV4SIM_FEATURE
                                                   : get.rtype == UHID_OUTPUT_REPORT ? KV4SIM_OUTPUT
                                                                                     : KV4SIM_INPUT);
        const std::vector<uint8_t> *known = get.rtype == UHID_FEATURE_REPORT ? feature(get.rnum) : nullptr;
        if (size == 0)
            answer.err = EIO;
        else if (known) {
            answer.size = static_cast<uint16_t>(known->size());
            std::copy(known->begin(), known->end(), answer.data);
        } else {
            answer.size = static_cast<uint16_t>(size);
            answer.data[0] = get.rnum;
        }
        return send(&reply, sizeof reply);
    }
    default: // open, close, stop: nothing to answer
        break;
    }
    return true;
}

void uhid_monitor::reply_output(const uint8_t *report, std::size_t length)
{
    const uint8_t *input = nullptr;
    std::size_t input_length = 0;
    if (!served_monitor::answer_output(report, length, &input, &input_length))
        return;
    uhid_event event{};
    event.type = UHID_INPUT2;
    // Always the whole report: the kernel drops input reports shorter than the descriptor says.
    event.u.input2.size = static_cast<uint16_t>(input_length);
    std::memcpy(event.u.input2.data, input, input_length);
    send(&event, sizeof event);
}

} // namespace kv4sim_uhid
