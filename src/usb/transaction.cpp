// The synchronous transaction.
#include "usb/transaction.h"

#include "kv4usbcp.h"
#include "platform/hid_services.h"
#include "platform/platform.h"
#include "usb/report_tables.h"

#include <cstring>

namespace kv4 {

namespace {

constexpr uint16_t write_wait_floor_ms = 20;

enum class half { completed, failed, timed_out, closed };

int16_t close_after_failure(win32_device &device, const char *line, int16_t code)
{
    device.close();
    debug_line(line);
    return code;
}

// Waits for the transfer just started on the synchronous record. On a time-out the transfer is
// cancelled and its end awaited, so that it can neither land in the buffer of the next transfer
// nor leave the record busy. A close on another thread marks the port and then cancels what is
// pending, which ends the wait early; a transfer started after that cancel is cancelled here.
half await_transfer(win32_device &device, open_port &port, uint32_t timeout_ms)
{
    transfer_wait waited = transfer_wait::timed_out;
    if (!port.closed.load()) {
        waited = wait_transfer(port.sync_transfer, timeout_ms);
        if (!port.closed.load()) {
            if (waited != transfer_wait::timed_out)
                return waited == transfer_wait::completed ? half::completed : half::failed;
            // A cancel the system does not finish leaves the record unusable: the port closes.
            if (!cancel_transfer(port, port.sync_transfer))
                close_after_failure(device, "------>USB DLL:**Closed Device Due to Cancel Timeout**", 0);
            return half::timed_out;
        }
    }
    if (waited == transfer_wait::timed_out)
        cancel_transfer(port, port.sync_transfer);
    return half::closed;
}

// Reports for both directions, chosen under the device lock so that a close on another thread
// cannot empty the tables while they are read.
int16_t choose_reports(const win32_device &device, uint16_t command_length, uint16_t response_length,
                       report_entry *input, report_entry *output)
{
    if (const int16_t result = select_report(device, report_input, response_length, input))
        return result;
    const uint16_t output_length = device.buffer_mode.load() == TKUSB_BUFFER_MODE_COMMAND ? command_length : response_length;
    if (const int16_t result = select_report(device, report_output, output_length, output))
        return result;
    // In response mode the command length is not what chose the report; it must still fit.
    if (command_length > device.transfer_length.load() - 1)
        return TKUSB_TOOLONG_REPORT_ERR;
    return 0;
}

int16_t exchange(win32_device &device, open_port &port, const uint8_t *command, uint16_t command_length,
                 uint8_t *response, uint16_t *response_length, uint16_t timeout_ms)
{
    report_entry input, output;
    if (const int16_t result = choose_reports(device, command_length, *response_length, &input, &output))
        return result;
    if (!device.compare_and_set_state(TKUSB_IO_IDLE, TKUSB_IO_SYNC))
        return TKUSB_ASYNC_INPROGRESS_ERR;
    hid().flush_input(port.handle); // the report read below must answer this command
    int16_t result = write_report(device, port, output.report_id, command, command_length, timeout_ms);
    if (result == 0) {
        if (input.size <= *response_length) // a report of no bytes (a count of 0) delivers none
            *response_length = input.size ? static_cast<uint16_t>(input.size - 1) : 0;
        result = read_report(device, port, input.report_id, response, *response_length, timeout_ms);
    }
    device.compare_and_set_state(TKUSB_IO_SYNC, TKUSB_IO_IDLE);
    return result;
}

} // namespace

int16_t write_report(win32_device &device, open_port &port, uint8_t report_id, const uint8_t *command,
                     uint16_t command_length, uint16_t timeout_ms)
{
    port.transfer_buffer[0] = report_id;
    if (command_length)
        std::memcpy(port.transfer_buffer + 1, command, command_length);
    const hid_io started = hid().start_write(port.handle, port.transfer_buffer, port.transfer_length, &port.sync_transfer);
    if (started == hid_io::completed)
        return 0;
    half outcome = half::failed;
    if (started == hid_io::pending)
        outcome = await_transfer(device, port, timeout_ms < 10 ? write_wait_floor_ms : timeout_ms);
    switch (outcome) {
    case half::completed: return 0;
    case half::closed: return TKUSB_DEVICE_CLOSED_ERR;
    case half::timed_out: return TKUSB_WRITE_TIMEOUT_ERR;
    case half::failed: break;
    }
    return close_after_failure(device, "------>USB DLL:**Closed Device Due to ERROR_IO_PENDING**",
                               TKUSB_WRITE_FAILED_ERR);
}

int16_t read_report(win32_device &device, open_port &port, uint8_t report_id, uint8_t *response,
                    uint16_t response_length, uint16_t timeout_ms)
{
    port.transfer_buffer[0] = report_id;
    const hid_io started = hid().start_read(port.handle, port.transfer_buffer, port.transfer_length, &port.sync_transfer);
    half outcome = started == hid_io::completed ? half::completed : half::failed;
    if (started == hid_io::pending)
        outcome = await_transfer(device, port, timeout_ms); // no floor: a timeout of 0 gives up at once
    switch (outcome) {
    case half::completed: break;
    case half::closed: return TKUSB_DEVICE_CLOSED_ERR;
    case half::timed_out: return TKUSB_READ_TIMEOUT_ERR;
    case half::failed:
        return close_after_failure(device, "------>USB DLL:**Closed Device Due to READ_FAILED_ERR**",
                                   TKUSB_READ_FAILED_ERR);
    }
    if (response_length)
        std::memcpy(response, port.transfer_buffer + 1, response_length);
    return 0;
}

int16_t do_command(win32_device *device, const uint8_t *command, uint16_t command_length, uint8_t *response,
                   uint16_t *response_length, uint16_t timeout_ms)
{
    if (!device)
        return TKUSB_INVALID_PORT_ERR;
    if (!device->is_open.load())
        return TKUSB_DEVICE_CLOSED_ERR;
    if (!response_length || (!response && *response_length) || (!command && command_length))
        return TKUSB_INVALID_PARAMETER;
    if (const int16_t result = lock_open_device(*device))
        return result;
    int16_t result = TKUSB_DEVICE_CLOSED_ERR;
    if (port_ref port = device->acquire())
        result = exchange(*device, *port, command, command_length, response, response_length, timeout_ms);
    device->unlock();
    return result;
}

int16_t lock_open_device(win32_device &device)
{
    const int16_t result = device.lock();
    // A port closed while this thread waited for it answers as a closed port does, so that the
    // host's recovery (reopen after TKUSB_DEVICE_CLOSED_ERR) applies whatever the timing.
    return result != 0 && !device.is_open.load() ? TKUSB_DEVICE_CLOSED_ERR : result;
}

} // namespace kv4
