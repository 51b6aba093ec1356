// kv4sim-uhid: simulated KV4 monitors as real HID devices on a Linux machine with /dev/uhid, so
// that any HID library or program sees them as it would see monitors on USB; or one of them as a
// USB gadget, which the machine's own USB stack then enumerates through dummy_hcd.
#include "gadget_monitor.h"
#include "uhid_monitor.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <iostream>
#include <memory>
#include <poll.h>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const char usage[] = R"(usage: kv4sim-uhid [--monitors=N | --gadget[=UDC]] [--control=PATH] [--vendor-id=ID] [--verbose]

Presents N simulated KV4 monitors (default 1, at most 32) as USB HID devices through /dev/uhid
(root, or write access to /dev/uhid; modules uhid and hid-generic). Each answers the service
command set as the simulator libraries do: product "KV4 Quillon5 Monitor", serial SIM0000n,
product ID 0x0001, vendor ID 0x1209 unless given.

Commands, one per line, from standard input or from PATH (a FIFO is opened so that writers may
come and go); monitors are numbered from 1:
  unplug N        destroys monitor N's device (a removal); its memories stay
  plug N          creates it again, same serial and name (an arrival)
  add             plugs in a new monitor with the next number
  quiet N on|off  monitor N takes frames but sends no answers
  deaf N on|off   monitor N takes no output reports, so that the host's writes wait (a gadget
                  only: it stops reading its OUT endpoint)
  quit            unplugs every monitor and exits (so does end of input, SIGINT and SIGTERM)

Prints a line when a monitor is plugged in, when its hidraw node is ready ("monitor N ready:
/dev/hidrawK"), when it is unplugged and when a feature report arrives.

--gadget presents monitor 1 (only) as a USB device instead: a configfs gadget with one
FunctionFS function that this program serves, bound to the USB device controller UDC (default:
the first in /sys/class/udc) (root; modules libcomposite and usb_f_fs, and dummy_hcd with usbhid
for the machine's own USB stack to enumerate it). On dummy_udc.N it also prints the USB device's
node ("monitor 1 usb device: /dev/bus/usb/BBB/DDD") before the hidraw node. String descriptors:
1 manufacturer, 2 product, 3 serial, 4 firmware version, 5 hardware version, 6 boot-loader
version. Output reports arrive on an interrupt OUT endpoint (or as SET_REPORT), feature reports
as SET_REPORT and read back as they were set. unplug and plug unbind and bind the gadget; quit
removes it.
)";

volatile std::sig_atomic_t stopping = 0;

struct options {
    unsigned monitors = 1;
    std::string control;
    bool gadget = false;
    std::string udc; // empty: the first there is
    uint16_t vendor_id = 0x1209;
    bool verbose = false;
};

bool parse(int argc, char **argv, options &out)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const std::string value = arg.substr(arg.find('=') + 1);
        char *end = nullptr;
        if (arg.rfind("--monitors=", 0) == 0) {
            out.monitors = static_cast<unsigned>(std::strtoul(value.c_str(), &end, 0));
            if (*end || out.monitors < 1 || out.monitors > 32)
                return false;
        } else if (arg.rfind("--vendor-id=", 0) == 0) {
            const unsigned long id = std::strtoul(value.c_str(), &end, 0);
            if (*end || id > 0xFFFF)
                return false;
            out.vendor_id = static_cast<uint16_t>(id);
        } else if (arg.rfind("--control=", 0) == 0)
            out.control = value;
        else if (arg == "--gadget" || arg.rfind("--gadget=", 0) == 0) {
            out.gadget = true;
            out.udc = arg == "--gadget" ? "" : value;
        } else if (arg == "--verbose")
            out.verbose = true;
        else
            return false;
    }
    return !(out.gadget && out.monitors != 1);
}

// The first USB device controller, in name order; empty when there is none.
std::string first_udc()
{
    std::string first;
    if (DIR *dir = opendir("/sys/class/udc")) {
        while (const dirent *entry = readdir(dir))
            if (entry->d_name[0] != '.' && (first.empty() || first > entry->d_name))
                first = entry->d_name;
        closedir(dir);
    }
    return first;
}

class simulator {
  public:
    explicit simulator(const options &opts) : opts_(opts) {}

    bool add()
    {
        const auto number = static_cast<unsigned>(monitors_.size() + 1);
        if (!opts_.gadget)
            monitors_.push_back(std::make_unique<kv4sim_uhid::uhid_monitor>(number, opts_.vendor_id, std::cout));
        else if (monitors_.empty()) {
            const std::string udc = opts_.udc.empty() ? first_udc() : opts_.udc;
            if (udc.empty()) {
                std::cerr << "kv4sim-uhid: no USB device controller in /sys/class/udc (module dummy_hcd?)\n";
                return false;
            }
            monitors_.push_back(std::make_unique<kv4sim_uhid::gadget_monitor>(number, opts_.vendor_id, udc, std::cout));
        } else {
            std::cerr << "kv4sim-uhid: a gadget is one monitor\n";
            return false;
        }
        monitors_.back()->verbose = opts_.verbose;
        return monitors_.back()->plug();
    }

    // Runs one command line; false for quit.
    bool command(const std::string &line)
    {
        std::istringstream words(line);
        std::string verb, state;
        unsigned n = 0;
        words >> verb;
        if (verb.empty())
            return true;
        if (verb == "quit")
            return false;
        if (verb == "add") {
            add();
            return true;
        }
        words >> n >> state;
        kv4sim_uhid::served_monitor *m = n >= 1 && n <= monitors_.size() ? monitors_[n - 1].get() : nullptr;
        if (m && verb == "unplug")
            m->unplug();
        else if (m && verb == "plug")
            m->plug();
        else if (m && verb == "quiet" && (state == "on" || state == "off"))
            m->quiet = state == "on";
        else if (m && verb == "deaf" && (state == "on" || state == "off") && m->take_no_reports(state == "on"))
            std::cout << "monitor " << n << " deaf " << state << std::endl;
        else
            std::cerr << "kv4sim-uhid: not understood: " << line << std::endl;
        return true;
    }

    // Serves the monitors and reads commands from fd until told to stop.
    void run(int control)
    {
        std::string pending;
        while (!stopping) {
            std::vector<pollfd> fds{{control, POLLIN, 0}};
            std::vector<kv4sim_uhid::served_monitor *> polled{nullptr};
            for (auto &m : monitors_) {
                std::vector<int> served;
                if (m->plugged())
                    m->poll_fds(served);
                for (int fd : served) {
                    fds.push_back({fd, POLLIN, 0});
                    polled.push_back(m.get());
                }
            }
            if (poll(fds.data(), fds.size(), -1) < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            for (std::size_t i = 1; i < fds.size(); ++i)
                if (fds[i].revents && polled[i]->plugged() && !polled[i]->handle(fds[i].fd))
                    polled[i]->unplug();
            if (!fds[0].revents)
                continue;
            char chunk[256];
            const ssize_t n = read(control, chunk, sizeof chunk);
            if (n <= 0 && !(n < 0 && errno == EINTR))
                return; // end of input
            pending.append(chunk, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
            for (std::size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1))
                if (!command(pending.substr(0, end)))
                    return;
        }
    }

  private:
    const options &opts_;
    std::vector<std::unique_ptr<kv4sim_uhid::served_monitor>> monitors_;
};

} // namespace

int main(int argc, char **argv)
{
    options opts;
    if (argc == 2 && std::string(argv[1]) == "--help") {
        std::cout << usage;
        return 0;
    }
    if (!parse(argc, argv, opts)) {
        std::cerr << usage;
        return 2;
    }
    int control = STDIN_FILENO;
    // Read and write, so that the FIFO never reports end of input between two writers.
    if (!opts.control.empty() && (control = open(opts.control.c_str(), O_RDWR | O_CLOEXEC)) < 0) {
        std::cerr << "kv4sim-uhid: cannot open " << opts.control << ": " << std::strerror(errno) << '\n';
        return 1;
    }
    struct sigaction stop {};
    stop.sa_handler = [](int) { stopping = 1; };
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);
    simulator sim(opts);
    for (unsigned i = 0; i < opts.monitors; ++i)
        if (!sim.add())
            return 1;
    sim.run(control);
    return 0;
}
