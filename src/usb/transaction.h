// The synchronous exchange on a port: one output report out, one input report back.
#pragma once

#include "usb/usb_device.h"

#include <cstdint>

namespace kv4 {

// Writes command in the output report chosen by the buffer mode and reads the answer from the
// smallest input report that holds *response_length bytes; on return *response_length is the
// number of bytes copied into response (at most that report's size - 1). Blocks at most about
// twice timeout_ms. Allocates nothing. A command longer than a transfer can carry is refused with
// TKUSB_TOOLONG_REPORT_ERR before anything is copied. A close of the port on another thread ends
// the exchange with TKUSB_DEVICE_CLOSED_ERR.
int16_t do_command(win32_device *device, const uint8_t *command, uint16_t command_length, uint8_t *response,
                   uint16_t *response_length, uint16_t timeout_ms);

// The halves, on the synchronous record of the port's open state; the caller holds the device
// lock and has claimed the port.
int16_t write_report(win32_device &device, open_port &port, uint8_t report_id, const uint8_t *command,
                     uint16_t command_length, uint16_t timeout_ms);
int16_t read_report(win32_device &device, open_port &port, uint8_t report_id, uint8_t *response,
                    uint16_t response_length, uint16_t timeout_ms);

// Takes the device lock: 0, TKUSB_DEVICE_CLOSED_ERR when the port was closed meanwhile, or
// TKCMDSET_MUTEX_FAILED_ERR when the lock itself fails.
int16_t lock_open_device(win32_device &device);

} // namespace kv4
