// Command transactions: the host's own frames under the monitor's response-status rule, and the
// echo, status and special service commands.
#include "api/port_operations.h"
#include "kv4usbcp.h"
#include "platform/boundary.h"

#include <algorithm>
#include <cstring>

using namespace kv4;

namespace {
constexpr uint16_t echo_minimum_frame = 110;
constexpr std::size_t local_frame_size = 512;
} // namespace

extern "C" {

KV4USBCP_API int16_t tkcmdsetUSB_do_command(uint16_t port, const uint8_t *command, uint16_t command_length,
                                            uint8_t *response, uint16_t *response_length, uint16_t timeout)
{
    return guarded([&]() -> int16_t {
        if (!response || !response_length)
            return TKUSB_INVALID_PARAMETER;
        response[0] = 0;
        if (const int16_t result = port_do_command(port, command, command_length, response, response_length, timeout))
            return result;
        if (response[0] != 0)
            return 0;
        return static_cast<int16_t>(get_be16(response + 1)); // the monitor's own code
    });
}

KV4USBCP_API int16_t tkcmdsetUSB_do_DDIcommand(uint16_t port, const uint8_t *command, uint16_t command_length,
                                               uint8_t *response, uint16_t *response_length, uint16_t timeout)
{
    return guarded([&] {
        port_set_buffer_mode(port, TKUSB_BUFFER_MODE_RESPONSE);
        return tkcmdsetUSB_do_command(port, command, command_length, response, response_length, timeout);
    });
}

KV4USBCP_API int16_t tkcmdsetUSB_echo(uint16_t port, const uint8_t *data, uint16_t length)
{
    return guarded([&]() -> int16_t {
        // The frame (code and data) must fit the local buffers of 512 bytes.
        if ((!data && length) || length > local_frame_size - 1)
            return TKUSB_INVALID_PARAMETER;
        uint8_t frame[local_frame_size] = {10};
        if (length)
            std::memcpy(frame + 1, data, length);
        const uint16_t frame_length = std::max<uint16_t>(static_cast<uint16_t>(length + 1), echo_minimum_frame);
        uint8_t response[local_frame_size];
        uint16_t response_length = frame_length;
        return tkcmdsetUSB_do_command(port, frame, frame_length, response, &response_length, command_timeout_short);
    });
}

KV4USBCP_API int16_t tkcmdsetUSB_status(uint16_t port, uint32_t *status)
{
    return guarded([&]() -> int16_t {
        if (!status)
            return TKUSB_INVALID_PARAMETER;
        uint16_t response_length = capped_max_report_size(port);
        *status = 0;
        const uint8_t frame[1] = {12};
        uint8_t response[local_frame_size] = {};
        const int16_t result =
            tkcmdsetUSB_do_command(port, frame, sizeof frame, response, &response_length, command_timeout_short);
        if (result == 0)
            *status = get_be32(response);
        return result;
    });
}

KV4USBCP_API int16_t tkcmdsetUSB_special(uint16_t port, uint16_t argument1, uint32_t argument2, uint32_t *value)
{
    return guarded([&] {
        uint16_t response_length = capped_max_report_size(port);
        if (value)
            *value = 0;
        uint8_t frame[7] = {13};
        put_be16(frame + 1, argument1);
        put_be32(frame + 3, argument2);
        port_set_buffer_mode(port, TKUSB_BUFFER_MODE_RESPONSE);
        uint8_t response[local_frame_size] = {};
        const int16_t result =
            tkcmdsetUSB_do_command(port, frame, sizeof frame, response, &response_length, command_timeout_long);
        if (value && result == 0)
            *value = get_be32(response + 1);
        return result;
    });
}

} // extern "C"
