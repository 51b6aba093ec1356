// One simulated monitor served to the kernel, whichever way it is presented (uhid, or a USB
// gadget): the simulator's monitor model, the report descriptor written from its layout, the
// answers to output reports and the feature reports it was sent. A transport only carries reports
// between this and the kernel.
#pragma once

#include "platform/sim/monitor.h"

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace kv4sim_uhid {

// UTF-8, as the kernel and the console take text.
std::string utf8(const std::u16string &text);

class served_monitor {
  public:
    // number names the monitor in commands and in its default serial (SIM0000n).
    served_monitor(unsigned number, uint16_t vendor_id, std::ostream &log);
    virtual ~served_monitor() = default;
    served_monitor(const served_monitor &) = delete;
    served_monitor &operator=(const served_monitor &) = delete;

    // Presents the device to the kernel (an arrival); false with the reason logged.
    virtual bool plug() = 0;
    // Takes it away (a removal); the model keeps its memories, so a replug finds them again.
    virtual void unplug() noexcept = 0;
    virtual bool plugged() const noexcept = 0;
    // Adds the descriptors to poll while plugged.
    virtual void poll_fds(std::vector<int> &fds) const = 0;
    // Handles what made fd ready; false when the device is gone.
    virtual bool handle(int fd) = 0;
    // Stops or resumes taking output reports, as a wedged monitor (or one erasing its flash) stops:
    // the host's writes then wait. False where the transport cannot refuse a report (uhid).
    virtual bool take_no_reports(bool on)
    {
        (void)on;
        return false;
    }

    unsigned number() const noexcept { return number_; }
    // A monitor that takes frames and never answers, as one whose firmware hangs.
    bool quiet = false;
    bool verbose = false;

  protected:
    // Answers an output report (report ID in byte 0): the whole input report to send, report ID
    // first, in *input (valid until the next answer) and *input_length; false for no answer.
    bool answer_output(const uint8_t *report, std::size_t length, const uint8_t **input, std::size_t *input_length);
    // Keeps a feature report the host set under an ID (report ID in byte 0), and says so.
    void take_feature(uint8_t report_id, const uint8_t *report, std::size_t length);
    // The feature report last set under an ID; null when none was.
    const std::vector<uint8_t> *feature(uint8_t report_id) const;

    const unsigned number_;
    const uint16_t vendor_id_;
    std::ostream &log_;
    kv4::sim::monitor model_;
    const std::vector<uint8_t> descriptor_;

  private:
    std::map<uint8_t, std::vector<uint8_t>> features_;
};

} // namespace kv4sim_uhid
