// String descriptors through usbfs: one GET_DESCRIPTOR control transfer on the device's node.
#include "platform/linux/usb_string.h"

#include <linux/usbdevice_fs.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace kv4 {

namespace {

constexpr uint8_t device_to_host_standard_device = 0x80, get_descriptor = 6, string_descriptor = 3;
constexpr uint16_t us_english = 0x0409;
constexpr unsigned timeout_ms = 1000;

} // namespace

bool read_usb_string(const char *usb_device_node, unsigned index, uint16_t *buffer, std::size_t capacity) noexcept
{
    // Index 0 is the language table, not a string.
    if (!usb_device_node || !buffer || capacity < 2 || index < 1 || index > 255)
        return false;
    // usbfs takes no request, not even a read-only one, on a node opened without write access.
    int fd;
    while ((fd = open(usb_device_node, O_RDWR | O_CLOEXEC)) < 0 && errno == EINTR)
        ;
    if (fd < 0)
        return false;
    uint8_t answer[255] = {};
    usbdevfs_ctrltransfer transfer{};
    transfer.bRequestType = device_to_host_standard_device;
    transfer.bRequest = get_descriptor;
    transfer.wValue = static_cast<uint16_t>(string_descriptor << 8 | index);
    transfer.wIndex = us_english;
    transfer.wLength = sizeof answer;
    transfer.timeout = timeout_ms;
    transfer.data = answer;
    int received;
    while ((received = ioctl(fd, USBDEVFS_CONTROL, &transfer)) < 0 && errno == EINTR)
        ;
    close(fd);
    return string_descriptor_text(answer, received, buffer, capacity);
}

bool string_descriptor_text(const uint8_t *answer, int received, uint16_t *buffer, std::size_t capacity) noexcept
{
    if (received < 2 || received > 255 || capacity < 2)
        return false;
    const unsigned length = answer[0];
    if (length < 2 || length > static_cast<unsigned>(received) || length % 2 || answer[1] != string_descriptor)
        return false;
    const std::size_t characters = (length - 2) / 2, room = capacity / 2;
    const std::size_t n = std::min(characters, room);
    for (std::size_t i = 0; i < n; ++i)
        buffer[i] = static_cast<uint16_t>(answer[2 + 2 * i] | answer[3 + 2 * i] << 8);
    if (n < room)
        buffer[n] = 0;
    return true;
}

} // namespace kv4
