// Asynchronous exchanges on a port: queued by send_command, carried out step by step by the I/O
// thread on the port's asynchronous record.
#include "usb/async_exchange.h"

#include "kv4usbcp.h"
#include "platform/platform.h"
#include "usb/report_tables.h"

#include <cstring>
#include <mutex>

namespace kv4 {

namespace {

// Where a step stands once its transfer was started. A close on another thread marks the port and
// then cancels what is pending; a transfer started after that cancel is cancelled here.
int16_t started(async_exchange &exchange, uint32_t from, uint32_t to)
{
    exchange.device->compare_and_set_state(from, to);
    if (!exchange.port->closed.load())
        return 0;
    cancel_io(exchange);
    return TKUSB_DEVICE_CLOSED_ERR;
}

int16_t refused(async_exchange &exchange, int16_t code)
{
    exchange.device->close();
    return code;
}

} // namespace

int16_t send_command(win32_device *device, const uint8_t *command, uint16_t command_length, uint16_t tag)
{
    if (!device)
        return TKUSB_INVALID_PORT_ERR;
    if (!command && command_length)
        return TKUSB_INVALID_PARAMETER;
    port_ref port = device->acquire();
    if (!port)
        return TKUSB_DEVICE_CLOSED_ERR;
    // One report serves both directions: the smallest input report that holds the command.
    report_entry report;
    if (const int16_t result = select_from(port->input_reports, command_length, &report))
        return result;
    {
        // The claim and the request are one step for the I/O thread, which reads them under the
        // same guard: it never sees the claim with an earlier exchange's start time or tag.
        std::lock_guard<std::mutex> guard(device->exchange_guard);
        if (!device->compare_and_set_state(TKUSB_IO_IDLE, TKUSB_IO_WRITE_REQUESTED))
            return TKUSB_ASYNC_INPROGRESS_ERR;
        device->request_start_ticks = tick_count();
        port->async_send_buffer[0] = report.report_id;
        if (command_length)
            std::memcpy(port->async_send_buffer + 1, command, command_length);
        device->request_tag = tag;
        device->response_report = report;
        device->exchange_port = port.detach();
    }
    event_set(device->async_event);
    return 0;
}

void take_over(win32_device &device, async_exchange *exchange)
{
    std::lock_guard<std::mutex> guard(device.exchange_guard);
    exchange->device = &device;
    exchange->port = port_ref(device.exchange_port);
    device.exchange_port = nullptr;
    exchange->tag = device.request_tag;
    exchange->start_ticks = device.request_start_ticks;
    exchange->report = device.response_report;
}

int16_t start_async_write(async_exchange &exchange)
{
    if (!exchange.port || exchange.port->closed.load())
        return TKUSB_DEVICE_CLOSED_ERR;
    open_port &port = *exchange.port;
    hid().flush_input(port.handle); // the report read next must answer this command
    if (hid().start_write(port.handle, port.async_send_buffer, port.transfer_length, &port.async_transfer) ==
        hid_io::failed)
        return refused(exchange, TKUSB_WRITE_FAILED_ERR);
    return started(exchange, TKUSB_IO_WRITE_REQUESTED, TKUSB_IO_WRITING);
}

int16_t start_async_read(async_exchange &exchange)
{
    open_port &port = *exchange.port;
    if (port.closed.load())
        return TKUSB_DEVICE_CLOSED_ERR;
    // A write that failed after it was started is as good as refused.
    if (hid().outcome(&port.async_transfer) == hid_io::failed)
        return refused(exchange, TKUSB_WRITE_FAILED_ERR);
    std::memset(port.transfer_buffer, 0, port.transfer_length);
    port.transfer_buffer[0] = exchange.report.report_id;
    if (hid().start_read(port.handle, port.transfer_buffer, port.transfer_length, &port.async_transfer) ==
        hid_io::failed)
        return refused(exchange, TKUSB_READ_FAILED_ERR);
    return started(exchange, TKUSB_IO_WRITING, TKUSB_IO_READING);
}

int16_t finish_async_read(async_exchange &exchange, uint8_t *buffer, uint16_t *length)
{
    open_port &port = *exchange.port;
    if (port.closed.load())
        return TKUSB_DEVICE_CLOSED_ERR;
    switch (hid().outcome(&port.async_transfer)) {
    case hid_io::pending: return TKUSB_ASYNC_INPROGRESS_ERR;
    case hid_io::failed: return TKUSB_READ_TIMEOUT_ERR;
    case hid_io::completed: break;
    }
    if (*length >= exchange.report.size) // a report of no bytes (a count of 0) delivers none
        *length = exchange.report.size ? static_cast<uint16_t>(exchange.report.size - 1) : 0;
    if (*length)
        std::memcpy(buffer, port.transfer_buffer + 1, *length);
    return 0;
}

void cancel_io(async_exchange &exchange)
{
    if (exchange.port && !cancel_transfer(*exchange.port, exchange.port->async_transfer)) {
        exchange.device->close();
        debug_line("------>USB DLL:**Closed Device Due to Cancel Timeout**");
    }
}

} // namespace kv4
