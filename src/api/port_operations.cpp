// Port operations through the dispatch glue.
#include "api/port_operations.h"

#include "api/dispatch.h"
#include "usb/feature.h"
#include "usb/report_tables.h"
#include "usb/transaction.h"

namespace kv4 {

int16_t port_do_command(uint16_t port, const uint8_t *command, uint16_t command_length, uint8_t *response,
                        uint16_t *response_length, uint16_t timeout_ms)
{
    return dispatch(port, init_check::required, [&](win32_device &device) {
        return do_command(&device, command, command_length, response, response_length, timeout_ms);
    });
}

int16_t port_max_report_size(uint16_t port, uint16_t *size)
{
    return dispatch(port, init_check::required, [size](win32_device &device) { return get_max_report_size(&device, size); });
}

int16_t port_set_buffer_mode(uint16_t port, uint8_t mode)
{
    return dispatch(port, init_check::required, [mode](win32_device &device) { return set_buffer_mode(&device, mode); });
}

int16_t port_get_buffer_mode(uint16_t port, uint8_t *mode)
{
    return dispatch(port, init_check::required, [mode](win32_device &device) { return get_buffer_mode(&device, mode); });
}

uint16_t capped_max_report_size(uint16_t port)
{
    uint16_t size = 0;
    port_max_report_size(port, &size); // a failed read leaves 0; the command then fails on the port
    return size > 500 ? 500 : size;
}

} // namespace kv4
