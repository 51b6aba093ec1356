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

enum class wait_outcome { completed, failed, timed_out, closed };

// Waits for the pending transfer of the synchronous record. On a time-out the transfer is
// cancelled and its end awaited, so that it cannot land in the buffer of the next one.
wait_outcome await_transfer(win32_device &device, uint32_t timeout_ms)
{
    const bool signalled = event_wait(device.sync_overlapped.event, timeout_ms) == 0;
    if (!device.is_open.load()) // closed by another thread, which cancelled the transfer
        return wait_outcome::closed;
    if (!signalled) {
        hid().cancel_io(device.handle);
        event_wait(device.sync_overlapped.event, 1000);
        return wait_outcome::timed_out;
    }
    return hid().outcome(device.handle, &device.sync_overlapped) == hid_io::failed ? wait_outcome::failed
                                                                                   : wait_outcome::completed;
}

int16_t close_after_failure(win32_device &device, const char *line, int16_t code)
{
    device.close();
    debug_line(line);
    return code;
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

int16_t exchange(win32_device &device, const uint8_t *command, uint16_t command_length, uint8_t *response,
                 uint16_t *response_length, uint16_t timeout_ms)
{
    report_entry input, output;
    if (const int16_t result = choose_reports(device, command_length, *response_length, &input, &output))
        return result;
    if (!device.compare_and_set_state(TKUSB_IO_IDLE, TKUSB_IO_SYNC))
        return TKUSB_ASYNC_INPROGRESS_ERR;
    hid().flush_input(device.handle); // the report read below must answer this command
    int16_t result = write_report(device, output.report_id, command, command_length, timeout_ms);
    if (result == 0) {
        if (input.size <= *response_length)
            *response_length = static_cast<uint16_t>(input.size - 1);
        result = read_report(device, input.report_id, response, *response_length, timeout_ms);
    }
    device.compare_and_set_state(TKUSB_IO_SYNC, TKUSB_IO_IDLE);
    return result;
}

} // namespace

int16_t write_report(win32_device &device, uint8_t report_id, const uint8_t *command, uint16_t command_length,
                     uint16_t timeout_ms)
{
    device.transfer_buffer[0] = report_id;
    if (command_length)
        std::memcpy(device.transfer_buffer + 1, command, command_length);
    const hid_io started = hid().start_write(device.handle, device.transfer_buffer, device.transfer_length.load(),
                                             &device.sync_overlapped);
    if (started == hid_io::completed)
        return 0;
    if (started == hid_io::failed)
        return close_after_failure(device, "------>USB DLL:**Closed Device Due to ERROR_IO_PENDING**",
                                   TKUSB_WRITE_FAILED_ERR);
    switch (await_transfer(device, timeout_ms < 10 ? write_wait_floor_ms : timeout_ms)) {
    case wait_outcome::completed: return 0;
    case wait_outcome::closed: return TKUSB_DEVICE_CLOSED_ERR;
    case wait_outcome::timed_out: return TKUSB_WRITE_TIMEOUT_ERR;
    case wait_outcome::failed: break;
    }
    return close_after_failure(device, "------>USB DLL:**Closed Device Due to ERROR_IO_PENDING**",
                               TKUSB_WRITE_FAILED_ERR);
}

int16_t read_report(win32_device &device, uint8_t report_id, uint8_t *response, uint16_t response_length,
                    uint16_t timeout_ms)
{
    device.transfer_buffer[0] = report_id;
    const hid_io started = hid().start_read(device.handle, device.transfer_buffer, device.transfer_length.load(),
                                            &device.sync_overlapped);
    if (started == hid_io::failed)
        return close_after_failure(device, "------>USB DLL:**Closed Device Due to READ_FAILED_ERR**",
                                   TKUSB_READ_FAILED_ERR);
    if (started == hid_io::pending) {
        wait_outcome outcome = wait_outcome::timed_out;
        if (timeout_ms == 0) { // no floor for the read: give up at once
            hid().cancel_io(device.handle);
            event_wait(device.sync_overlapped.event, 1000);
        } else {
            outcome = await_transfer(device, timeout_ms);
        }
        if (outcome == wait_outcome::closed)
            return TKUSB_DEVICE_CLOSED_ERR;
        if (outcome == wait_outcome::timed_out)
            return TKUSB_READ_TIMEOUT_ERR;
        if (outcome == wait_outcome::failed)
            return close_after_failure(device, "------>USB DLL:**Closed Device Due to READ_FAILED_ERR**",
                                       TKUSB_READ_FAILED_ERR);
    }
    if (response_length)
        std::memcpy(response, device.transfer_buffer + 1, response_length);
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
    if (const int16_t result = device->lock())
        return result;
    const int16_t result = device->is_open.load()
                               ? exchange(*device, command, command_length, response, response_length, timeout_ms)
                               : TKUSB_DEVICE_CLOSED_ERR;
    device->unlock();
    return result;
}

} // namespace kv4
