// The port operations of an asynchronous exchange: queuing it on the host's thread, and the steps
// the I/O thread takes on it.
#pragma once

#include "usb/usb_device.h"

#include <cstdint>

namespace kv4 {

// Queues command for the I/O thread, which writes it in the smallest input report's ID and size
// class that holds it and reads the answer in the same report. TKUSB_DEVICE_CLOSED_ERR,
// TKUSB_TOOLONG_REPORT_ERR, TKUSB_ASYNC_INPROGRESS_ERR (an exchange or a transaction holds the
// port), or 0 when accepted: then exactly one completion follows. Takes neither the device lock
// nor the platform lock.
int16_t send_command(win32_device *device, const uint8_t *command, uint16_t command_length, uint16_t tag);

// An exchange the I/O thread has taken over from the device: what send_command queued.
struct async_exchange {
    win32_device *device = nullptr;
    port_ref port; // the open state it was queued on, held until the exchange ends
    uint16_t tag = 0;
    uint32_t start_ticks = 0;
    report_entry report;
};

// Moves a queued exchange (io_state TKUSB_IO_WRITE_REQUESTED) from the device into exchange.
void take_over(win32_device &device, async_exchange *exchange);

// The I/O thread's steps. Each returns 0 when the step was started, or the code the exchange ends
// with; a refusal by the system closes the port.
int16_t start_async_write(async_exchange &exchange);
int16_t start_async_read(async_exchange &exchange);
// The answer of a completed read, at most *length bytes (the report's size - 1 when that is
// smaller), into buffer.
int16_t finish_async_read(async_exchange &exchange, uint8_t *buffer, uint16_t *length);
// Cancels the exchange's transfer and waits for it to end; a transfer that does not end closes
// the port, whose open state then keeps the record and buffer until it does.
void cancel_io(async_exchange &exchange);

} // namespace kv4
