// libFuzzer target: what the hidraw backend reads from the system, through the functions it reads
// them with: input reports off a node (any length, with and without report IDs; a datagram socket
// stands in for the node, as it too hands out one whole message per read and cuts it to the
// buffer), sysfs attribute strings, and USB string descriptors as usbfs returns them.
#include "fuzz_support.h"
#include "platform/linux/hidraw.h"
#include "platform/linux/usb_string.h"
#include "platform/platform.h"
#include "platform/text.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <sys/socket.h>
#include <unistd.h>

using namespace kv4fuzz;

namespace {

void input_report(FuzzedDataProvider &in)
{
    static int node[2] = {-1, -1};
    if (node[0] < 0)
        check(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK, 0, node) == 0, "a socket pair");
    const bool numbered = in.ConsumeBool();
    const std::size_t length = in.ConsumeIntegralInRange(1, 4097);
    const std::vector<uint8_t> report = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange(1, 4096));
    if (report.empty() || send(node[1], report.data(), report.size(), 0) != ssize_t(report.size()))
        return;
    guarded_buffer buffer(length);
    const ssize_t n = kv4::read_report(node[0], buffer.data(), length, numbered);
    char rest[4096];
    while (recv(node[0], rest, sizeof rest, 0) > 0) // what a short read left
        ;
    buffer.check_untouched(length, "hidraw read: the buffer");
    const std::size_t id = numbered ? 0 : 1;
    check(n == ssize_t(std::min(report.size(), length - id)), "hidraw read: one report, cut to the buffer");
    if (n <= 0)
        return;
    const uint8_t *b = buffer.data();
    check((numbered || b[0] == 0) && std::equal(report.begin(), report.begin() + n, b + id) &&
              std::all_of(b + id + n, b + length, [](uint8_t c) { return c == 0; }),
          "hidraw read: the report ID in byte 0, zeros after the report");
}

// The string as the core takes it: UTF-16 into its 125-byte staging, then 8-bit into a host buffer.
void sysfs_attribute(FuzzedDataProvider &in)
{
    const std::string value = in.ConsumeRandomLengthString(1000);
    const std::size_t capacity = in.ConsumeIntegralInRange(0, 300), host = in.ConsumeIntegralInRange(1, 300);
    guarded_buffer wide(capacity), narrow(host);
    const bool copied = kv4::copy_utf16(kv4::utf8_to_utf16(value.c_str()), wide.as<uint16_t>(), capacity);
    wide.check_untouched(capacity, "sysfs string: the UTF-16 buffer");
    check(copied == (capacity >= 2), "sysfs string: delivered when a character fits");
    if (!copied)
        return;
    const uint16_t *w = wide.as<uint16_t>();
    check(std::find(w, w + capacity / 2, 0) != w + capacity / 2, "sysfs string: terminated");
    kv4::utf16_to_ansi(w, narrow.text(), host);
    narrow.check_untouched(host, "sysfs string: the host's buffer");
    check(std::memchr(narrow.text(), 0, host), "sysfs string: terminated for the host");
}

void string_descriptor(FuzzedDataProvider &in)
{
    const int received = in.ConsumeIntegralInRange(-1, 300);
    const std::size_t capacity = in.ConsumeIntegralInRange(0, 300);
    std::vector<uint8_t> answer = in.ConsumeBytes<uint8_t>(255);
    answer.resize(255); // the transfer's buffer: what did not arrive is zero
    guarded_buffer text(capacity);
    const bool read = kv4::string_descriptor_text(answer.data(), received, text.as<uint16_t>(), capacity);
    text.check_untouched(capacity, "string descriptor: the buffer");
    check(!read || (answer[0] >= 2 && answer[0] <= received && answer[0] % 2 == 0 && answer[1] == 3 && capacity >= 2),
          "string descriptor: only a well-formed one is taken");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    switch (in.ConsumeIntegralInRange(0, 2)) {
    case 0: input_report(in); break;
    case 1: sysfs_attribute(in); break;
    default: string_descriptor(in);
    }
    return 0;
}
