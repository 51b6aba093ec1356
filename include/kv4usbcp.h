/*
 * kv4usbcp.h - host interface of KV4USBCP, the USB command library for KV4 fitness monitors.
 *
 * A monitor is a USB HID device. The library finds the monitors present, gives each a 16-bit port
 * number, opens it and carries command frames to it and response frames back, one HID report each
 * way. Every function is callable from C and C++ and from any host thread; none lets an exception
 * escape: memory running out inside the library answers TKUSB_SYSTEM_MEMORY_ERR, any other such
 * failure TKUSB_SYSTEM_IO_ERR. Unless said otherwise a function returns a signed 16-bit result
 * code: 0 for success, a negative code listed below, or a code reported by the monitor itself
 * (passed through unchanged).
 * tkcmdsetUSB_get_error_name and tkcmdsetUSB_get_error_text turn any code into text.
 *
 * Null output pointers: where a function needs an output pointer to report its answer and the
 * host passes null, the function returns TKUSB_INVALID_PARAMETER and changes nothing. A length of
 * 0 writes nothing.
 *
 * Unloading (Windows): each of the library's threads (the I/O thread, the notification thread)
 * keeps the DLL loaded while it runs, so a FreeLibrary while one runs is safe; the DLL leaves the
 * process when the last of them has ended. Unregister first, or it stays for as long as they run.
 */
#ifndef KV4USBCP_H
#define KV4USBCP_H

#include <stdint.h>

#if defined(_WIN32)
#  if defined(KV4USBCP_BUILD)
#    define KV4USBCP_API __declspec(dllexport)
#  elif defined(KV4USBCP_STATIC)
#    define KV4USBCP_API
#  else
#    define KV4USBCP_API __declspec(dllimport)
#  endif
#else
#  define KV4USBCP_API __attribute__((visibility("default")))
#endif

/* Version of the library, as tkcmdsetUSB_get_dll_version reports it (major in the high byte). */
#define KV4USBCP_VERSION 0x0302
/* The release this header belongs to, for hosts that test it at compile time. */
#define KV4USBCP_VERSION_MAJOR 3
#define KV4USBCP_VERSION_MINOR 2
#define KV4USBCP_VERSION_PATCH 0

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Result codes ------------------------------------------------------------------------------ */
/* Timing */
#define TKTIME_NO_HIRES_ERR (-10000)
#define TKTIME_ABORT_ERR (-10001)
/* USB port layer */
#define TKUSB_INVALID_PORT_ERR (-10100)
#define TKUSB_INVALID_DEVICE_NAME_ERR (-10101)
#define TKUSB_WRITE_FAILED_ERR (-10102)
#define TKUSB_WRITE_INCOMPLETE_ERR (-10103)
#define TKUSB_WRITE_TIMEOUT_ERR (-10104)
#define TKUSB_READ_FAILED_ERR (-10105)
#define TKUSB_READ_INCOMPLETE_ERR (-10106)
#define TKUSB_READ_TIMEOUT_ERR (-10107)
#define TKUSB_DATA_NOT_AVAILABLE_ERR (-10108)
#define TKUSB_NO_PORT_INIT_ERR (-10109)
#define TKUSB_FLUSH_FAILED_ERR (-10110)
#define TKUSB_SET_FEATURE_ERR (-10111)
#define TKUSB_GET_STRING_ERR (-10112) /* no row in the error table: named "Unknown Error" */
#define TKUSB_INVALID_ECODE_FILE_ERR (-10113)
#define TKUSB_OS_UNSUPPORTED (-10114)
#define TKUSB_SYSTEM_IO_ERR (-10115)
#define TKUSB_OPEN_DEVICE_ERR (-10116)
#define TKUSB_RELEASE_DEVICE_ERR (-10117)
#define TKUSB_SYSTEM_MEMORY_ERR (-10118)
#define TKUSB_IOREGISTRY_ERR (-10119)
#define TKUSB_TOOLONG_REPORT_ERR (-10120)
#define TKUSB_OVERFLOW_ERR (-10121)
#define TKUSB_GET_DESCRIPTOR_ERR (-10122)
#define TKUSB_DEVICE_CLOSED_ERR (-10123)
#define TKUSB_EVENT_REGISTER_ERR (-10124)
#define TKUSB_INVALID_PARAMETER (-10125)
#define TKUSB_EVENT_TIMEOUT_ERR (-10126)
#define TKUSB_ASYNC_REGISTER_ERR (-10127)
#define TKUSB_ASYNC_INPROGRESS_ERR (-10128)
#define TKUSB_ASYNC_UNREGISTERED (-10129)
#define TKUSB_UNSUPPORTED (-10130)
/* Device driver interface */
#define TKDDI_INVALID_PORT_ERR (-10150)
#define TKDDI_NOT_IMPLEMENTED_ERR (-10151)
#define TKDDI_UNIT_ADDRESS_ERR (-10152)
#define TKDDI_PROTOCOL_INIT_ERR (-10153)
#define TKDDI_PROTOCOL_NOT_DEFINED_ERR (-10154)
#define TKDDI_MEMORY_ALLOC_ERR (-10155)
/* CSAFE command layer */
#define TKCSAFE_KV4_CMD_CONFIG_ERR (-10170)
#define TKCSAFE_UNDEFINED_KV4_CMD_ERR (-10171)
#define TKCSAFE_UNDEFINED_DATA_TYPE_ERR (-10172)
#define TKCSAFE_UNDEFINED_KV4_RSP_ERR (-10173)
#define TKCSAFE_CMD_DATA_EXCEEDS_LIMIT (-10174)
#define TKCSAFE_RSP_DATA_EXCEEDS_LIMIT (-10175)
#define TKCSAFE_INCORRECT_CMD_PARAMS (-10176)
#define TKCSAFE_INCORRECT_RSP_PARAMS (-10177)
#define TKCSAFE_DATATAB_NOT_FOUND (-10178)
#define TKCSAFE_DATATAB_INVALID_ADDRESS (-10179)
#define TKCSAFE_DATATAB_INVALID (-10180)
#define TKCSAFE_INI_FILE_CMD_TYPE_INVALID (-10181)
#define TKCSAFE_INI_FILE_DATA_TYPE_INVALID (-10182)
#define TKCSAFE_DATATAB_READ_ERROR (-10183)
#define TKCSAFE_CSAFE_FRAME_TOO_LONG_ERR (-10184)
#define TKCSAFE_INVALID_ADDRESS_IN_RSP_ERR (-10185)
#define TKCSAFE_INVALID_ID_IN_RSP_ERR (-10186)
#define TKCSAFE_NO_MEMORY_RETURNED (-10187)
#define TKCSAFE_AUTHENTICATION_FAILED (-10188)
#define TKCSAFE_NULL_POINTER_TO_STRING_ERR (-10189)
#define TKCSAFE_DATATAB_WRITE_ERROR (-10192)
/* CSAFE framing, reported by the monitor */
#define TKFRAME_CSAFE_FRAME_STUFF_ERR (-160)
#define TKFRAME_CSAFE_FRAME_CHKSM_ERR (-161)
#define TKFRAME_NO_SCI_FRAME_ERR (-162)
#define TKFRAME_NO_USB_FRAME_ERR (-163)
#define TKFRAME_CSAFE_INVALID_SHORT_CMD_ERR (-164)
#define TKFRAME_CSAFE_INVALID_LONG_CMD_ERR (-165)
#define TKFRAME_CSAFE_NO_END_CHAR_ERR (-166)
/* Command set */
#define TKCMDSET_NO_ECODE_FILE_ERR (-10200)
#define TKCMDSET_DEVICE_NOT_FOUND_ERR (-10201)
#define TKCMDSET_MUTEX_TIMEOUT_ERR (-10202)
#define TKCMDSET_MUTEX_FAILED_ERR (-10203)
#define TKCMDSET_INVALID_RESPONSE_ERR (-10204)
#define TKCMDSET_UNEXPECTED_RESPONSE_ERR (-10205)
/* S-record files */
#define TKSFILE_END_OF_FILE_ERR (-10300)
#define TKSFILE_FILE_READ_ERR (-10301)
#define TKSFILE_INVALID_TYPE_ERR (-10302)
#define TKSFILE_BAD_CHECKSUM_ERR (-10303)
#define TKSFILE_INVALID_LENGTH_ERR (-10304)
#define TKSFILE_INVALID_RECORD_ERR (-10305)
#define TKSFILE_INVALID_FILE_ERR (-10306)
#define TKSFILE_FILE_NOT_FOUND_ERR (-10307)
#define TKSFILE_OUTSIDE_BUFFER_ERR (-10308)
/* Cipher */
#define TKCIPHER_NOT_BLOCK_MULT_ERR (-10400)
/* Registry */
#define TKREG_CANNOT_CREATE_KEY_ERR (-10600)
#define TKREG_NO_OPEN_KEY_ERR (-10601)
#define TKREG_STRING_NOT_FOUND_ERR (-10602)
#define TKREG_STRING_SAVE_ERR (-10603)
/* Serial ports */
#define TKCOM_INVALID_PORT_ERR (-10700)
#define TKCOM_INVALID_DEVICE_NAME_ERR (-10701)
#define TKCOM_WRITE_FAILED_ERR (-10702)
#define TKCOM_WRITE_INCOMPLETE_ERR (-10703)
#define TKCOM_WRITE_TIMEOUT_ERR (-10704)
#define TKCOM_READ_FAILED_ERR (-10705)
#define TKCOM_READ_INCOMPLETE_ERR (-10706)
#define TKCOM_READ_TIMEOUT_ERR (-10707)
#define TKCOM_DATA_NOT_AVAILABLE_ERR (-10708)
#define TKCOM_NO_PORT_INIT_ERR (-10709)
#define TKCOM_FLUSH_FAILED_ERR (-10710)
#define TKCOM_GET_RXSIZE_ERR (-10711)
#define TKCOM_DEVICE_NOT_FOUND_ERR (-10712)
#define TKCOM_DTR_ERR (-10713)
#define TKCOM_RTS_ERR (-10714)
#define TKCOM_DSR_ERR (-10715)
#define TKCOM_CTS_ERR (-10716)
#define TKCOM_TXBREAK_ERR (-10717)
#define TKCOM_CONFIG_ERR (-10718)
/* Network */
#define TKNET_WINSOCK_CLOSE_SOCKET_ERR (-10800)
#define TKNET_WINSOCK_CREATE_SOCKET_ERR (-10801)
#define TKNET_WINSOCK_BIND_SOCKET_ERR (-10802)
#define TKNET_WINSOCK_REGISTER_SOCKET_ERR (-10803)
#define TKNET_WINSOCK_ENUM_EVENTS_ERR (-10804)
#define TKNET_WINSOCK_CREATE_EVENT_ERR (-10805)
#define TKNET_WINSOCK_WRITE_ERR (-10806)
#define TKNET_READ_TIMEOUT_ERR (-10807)
#define TKNET_WINSOCK_READ_ERR (-10808)
#define TKNET_WINSOCK_WRONG_EVENT_ERR (-10809)
#define TKNET_INCORRECT_PORT_IN_RSP_ERR (-10810)
#define TKNET_INCORRECT_IP_IN_RSP_ERR (-10811)
#define TKNET_INVALID_PORT_ERR (-10812)
#define TKNET_SOCKET_NOT_OPEN_ERR (-10813)
#define TKNET_WINSOCK_SETSOCKOPT_ERR (-10814)
/* Race timing */
#define TKRACE_THREAD_CREATE_ERR (-10900)
#define TKRACE_MUTEX_CREATE_ERR (-10901)
#define TKRACE_MUTEX_TIMEOUT_ERR (-10902)
#define TKRACE_MUTEX_FAILED_ERR (-10903)
#define TKRACE_WAIT_OBJECT_ERR (-10904)
#define TKRACE_EVENT_OBJECT_CREATE_ERR (-10905)
#define TKRACE_SET_EVENT_ERR (-10906)
#define TKRACE_RESET_EVENT_ERR (-10907)
#define TKRACE_NO_PC_TIMER_ERR (-10908)
#define TKRACE_INVALID_KV4_TIMEBASE (-10909)
#define TKRACE_INVALID_PC_TIMEBASE (-10910)
#define TKRACE_KV4_SYNC_ERR (-10911)
#define TKRACE_SYNC_ERROR_NO_KV4 (-10912)
#define TKRACE_SYNC_ALL_DID_NOT_RESPOND (-10913)
#define TKRACE_SYNC_ALL_OUT_OF_TOLERANCE (-10914)
#define TKRACE_SYNC_COULD_NOT_SYNC (-10915)
#define TKRACE_PARTICIPANT_LIST_SET_FAIL (-10916)
/* Data-card readers */
#define TKDATATAB_FILE_OPEN_ERROR (-11000)
#define TKDATATAB_EXCEL_LAUNCH_ERROR (-11001)
#define TKDATATAB_FILE_READ_ERROR (-11002)
#define TKDATATAB_FILE_VALIDATION_ERROR (-11003)
#define TKDATATAB_INVALID_PORT_ERR (-11004)
#define TKDATATAB_PORT_BUSY_ERR (-11005)
#define TKDATATAB_SERIAL_OPEN_ERR (-11006)
#define TKDATATAB_READER_NOT_RESPONDING_ERR (-11007)
#define TKDATATAB_INVALID_READER_ADDRESS (-11008)
#define TKDATATAB_CARD_NOT_INSERTED (-11009)
#define TKDATATAB_PORT_NOT_OPEN (-11010)
/* SZ bootloader utility */
#define SZUTIL_SEND_ERR (-20000)
#define SZUTIL_SYNC_ERR (-20001)
#define SZUTIL_BAUD_ERR (-20002)
#define SZUTIL_PROGRAMMING_ERR (-20003)
/* Flash tool */
#define KV4FLASH_INVALID_CRC_START_ERR (-20100)
#define KV4FLASH_INVALID_CRC_END_ERR (-20101)
/* Test generator (shares -11000 with TKDATATAB_FILE_OPEN_ERROR, whose name wins) */
#define TKTSTGEN_NO_UNUSED_FILE_ERR (-11000)

/* ---- Constants ------------------------------------------------------------------------------- */

/* Buffer mode of a port: which length chooses the output report of a transaction. */
#define TKUSB_BUFFER_MODE_COMMAND 1  /* the command length */
#define TKUSB_BUFFER_MODE_RESPONSE 2 /* the requested response length (every new port) */

/* Report-table selectors. Note: output is 0 and input 1, unlike the HID parser's numbering. */
#define TKUSB_REPORT_OUTPUT 0
#define TKUSB_REPORT_INPUT 1
#define TKUSB_REPORT_FEATURE 2

/* Event codes handed to the device-event callbacks. */
#define TKUSB_EVENT_DEVICE_CONNECTED 1    /* a monitor arrived and its port has just been opened */
#define TKUSB_EVENT_DEVICE_DISCONNECTED 2 /* a monitor left; its port is closed when the call returns */
#define TKUSB_EVENT_VOLUME_ARRIVED 3      /* a disk volume arrived (variants 2 and 3) */
#define TKUSB_EVENT_VOLUME_REMOVED 4      /* a disk volume was removed (variants 2 and 3) */

/* ---- Records ----------------------------------------------------------------------------------- */

/* Answer of tkcmdsetUSB_get_update_status; the meaning of the values is the monitor's. */
typedef struct tkcmdsetUSB_update_status {
    uint16_t first_value;
    uint16_t second_value;
} tkcmdsetUSB_update_status;

/* Answer of tkcmdsetUSB_get_V3_update_status. */
typedef struct tkcmdsetUSB_v3_update_status {
    uint32_t first_value;
    uint16_t second_value;
} tkcmdsetUSB_v3_update_status;

/* ---- Callbacks --------------------------------------------------------------------------------- */

/* Device events, variant 1. Called on the library's notification thread. */
typedef void (*tkusb_event_callback)(uint16_t port, int32_t event);
/* Variant 2: also the product name and serial number; the texts stay valid until shutdown_all. */
typedef void (*tkusb_event_callback2)(uint16_t port, int32_t event, const char *product_name,
                                      const char *serial_number);
/* Variant 3: also the USB product ID. */
typedef void (*tkusb_event_callback3)(uint16_t port, int32_t event, const char *product_name,
                                      const char *serial_number, uint16_t product_id);
/* Completion of an asynchronous exchange, called on the library's I/O thread. On success data
 * points to length response bytes, valid only during the call; on failure data is null, length 0
 * and result the failure code. tag is the value given to tkcmdsetUSB_send_command. */
typedef void (*tkusb_asyncio_callback)(uint16_t port, const uint8_t *data, uint16_t length,
                                       int16_t result, int16_t tag);

/* ---- Result codes as text ---------------------------------------------------------------------- */

/* Writes the identifier of code ("TKUSB_INVALID_PORT_ERR"; "Unknown Error" for a code without a
 * row) into buffer: at most length bytes, zero-filled to length, not terminated when it fills the
 * buffer (36 bytes always suffice). Callable in any state. */
KV4USBCP_API void tkcmdsetUSB_get_error_name(int16_t code, char *buffer, uint16_t length);
/* Writes the sentence of code ("No further information." for a code without a row) the same way
 * (140 bytes always suffice). */
KV4USBCP_API void tkcmdsetUSB_get_error_text(int16_t code, char *buffer, uint16_t length);

/* ---- Lifecycle and locking --------------------------------------------------------------------- */

/* Starts the library (after a full teardown when already started): port numbering restarts at 0.
 * TKUSB_OS_UNSUPPORTED on a refused Windows version. Must not overlap any other call. */
KV4USBCP_API int16_t tkcmdsetUSB_init(void);
/* Closes and forgets every port and ends the library's lock; always 0. Unregister callbacks first.
 * Must not overlap any other call. */
KV4USBCP_API int16_t tkcmdsetUSB_shutdown_all(void);
/* Closes one port; it keeps its number and can be reopened (tkcmdsetUSB_reset_port, discovery).
 * TKUSB_INVALID_PORT_ERR for a port never handed out. */
KV4USBCP_API int16_t tkcmdsetUSB_shutdown(uint16_t port);
/* Takes (leaves) the library's re-entrant process-wide lock, which holds off other threads' port
 * lookups; TKCMDSET_MUTEX_FAILED_ERR while the library is not started. */
KV4USBCP_API int16_t tkcmdsetUSB_lock(void);
KV4USBCP_API int16_t tkcmdsetUSB_unlock(void);
/* The library version, KV4USBCP_VERSION (0x0302); not a result code. */
KV4USBCP_API uint16_t tkcmdsetUSB_get_dll_version(void);

/* ---- Discovery and reopening ------------------------------------------------------------------- */

/* Finds the HID devices whose product string contains filter (case-sensitive), registers each
 * monitor once per serial number under a port number it keeps until shutdown_all, opens it, and
 * writes the ports of every open monitor into ports (room for 255 entries) and their number into
 * *count (count may be null). Note the order: count before ports. TKUSB_NO_PORT_INIT_ERR before
 * tkcmdsetUSB_init; TKUSB_INVALID_PARAMETER for a null filter or ports. A monitor held open by
 * another program costs a 100 ms retry and is not listed. */
KV4USBCP_API int16_t tkcmdsetUSB_find_devices(const char *filter, uint8_t *count, uint16_t *ports);
/* Closes the port and opens its monitor again: TKUSB_OPEN_DEVICE_ERR when it is gone,
 * TKUSB_SYSTEM_IO_ERR when it cannot be opened, TKUSB_INVALID_PORT_ERR for a port never opened. */
KV4USBCP_API int16_t tkcmdsetUSB_reset_port(uint16_t port);

/* ---- Transactions ------------------------------------------------------------------------------ */

/* Sends command (command_length bytes) in one HID output report and reads the answer from one
 * input report into response (at least 3 bytes, and at least *response_length). In:
 * *response_length is the number of bytes wanted; out: the number delivered (at most the chosen
 * report's size - 1). Result: a transport failure as is; else 0 when response[0] (the monitor's
 * status byte) is non-zero; else the monitor's code from response[1..2], big-endian.
 * TKUSB_TOOLONG_REPORT_ERR when no report holds the response or the command; TKUSB_ASYNC_INPROGRESS_ERR
 * while an asynchronous exchange runs on the port; TKUSB_WRITE_TIMEOUT_ERR / TKUSB_READ_TIMEOUT_ERR
 * after timeout milliseconds (the port stays open); TKUSB_WRITE_FAILED_ERR / TKUSB_READ_FAILED_ERR
 * when the device refuses (the port is closed; TKUSB_DEVICE_CLOSED_ERR until it is reopened). */
KV4USBCP_API int16_t tkcmdsetUSB_do_command(uint16_t port, const uint8_t *command, uint16_t command_length,
                                            uint8_t *response, uint16_t *response_length, uint16_t timeout);
/* tkcmdsetUSB_do_command after setting the port's buffer mode to TKUSB_BUFFER_MODE_RESPONSE. */
KV4USBCP_API int16_t tkcmdsetUSB_do_DDIcommand(uint16_t port, const uint8_t *command, uint16_t command_length,
                                               uint8_t *response, uint16_t *response_length, uint16_t timeout);
/* Echo (command 10): sends the data (at most 511 bytes, else TKUSB_INVALID_PARAMETER) padded to
 * at least 110 bytes and asks for as many back; only the result matters. */
KV4USBCP_API int16_t tkcmdsetUSB_echo(uint16_t port, const uint8_t *data, uint16_t length);
/* Status (command 12): the answer's bytes 0-3, big-endian, into *status (0 on failure). */
KV4USBCP_API int16_t tkcmdsetUSB_status(uint16_t port, uint32_t *status);
/* Special (command 13) with argument1 and argument2: the answer's bytes 1-4, big-endian, into
 * *value (may be null). Leaves the port in TKUSB_BUFFER_MODE_RESPONSE. */
KV4USBCP_API int16_t tkcmdsetUSB_special(uint16_t port, uint16_t argument1, uint32_t argument2, uint32_t *value);

/* ---- Memory and firmware blocks ---------------------------------------------------------------- */
/* Each sizes its block to the port's largest report M (taken as at most 500): writes take at
 * most M - 9 bytes made even (EEPROM: M - 7 made even), reads at most M - 1, never more than 500;
 * a larger block gives TKUSB_WRITE_FAILED_ERR / TKUSB_READ_FAILED_ERR without contacting the
 * monitor, an empty one 0. *response_length (at most 501, else TKUSB_INVALID_PARAMETER) is the
 * number of answer bytes wanted (for a read of N bytes at least N + 1) and delivered. The port's
 * buffer mode is switched to TKUSB_BUFFER_MODE_COMMAND for the command and put back afterwards.
 * Addresses and counts travel big-endian; data bytes travel in the host's order.
 * A transfer delivers at most the chosen input report's size less one byte, so a read whose
 * N + 1 answer bytes exactly fill a report gets its last data byte as zero: reads of at most
 * M - 2 bytes arrive whole. */
KV4USBCP_API int16_t tkcmdsetUSB_write_flashblk16(uint16_t port, uint32_t address, const uint8_t *data,
                                                  uint32_t words, uint16_t *response_length);
KV4USBCP_API int16_t tkcmdsetUSB_read_flashblk16(uint16_t port, uint32_t address, uint8_t *data, uint32_t words,
                                                 uint16_t *response_length);
KV4USBCP_API int16_t tkcmdsetUSB_write_spiflashblk8(uint16_t port, uint32_t address, const uint8_t *data,
                                                    uint32_t count, uint16_t *response_length);
KV4USBCP_API int16_t tkcmdsetUSB_read_spiflashblk8(uint16_t port, uint32_t address, uint8_t *data, uint32_t count,
                                                   uint16_t *response_length);
KV4USBCP_API int16_t tkcmdsetUSB_write_memblk16(uint16_t port, uint32_t address, const uint8_t *data,
                                                uint32_t words, uint16_t *response_length);
KV4USBCP_API int16_t tkcmdsetUSB_write_memblk8(uint16_t port, uint32_t address, const uint8_t *data, uint16_t count,
                                               uint16_t *response_length);
KV4USBCP_API int16_t tkcmdsetUSB_read_memblk8(uint16_t port, uint32_t address, uint8_t *data, uint16_t count,
                                              uint16_t *response_length);
/* EEPROM: only the low 16 bits of address are sent. */
KV4USBCP_API int16_t tkcmdsetUSB_write_eeblk8(uint16_t port, uint32_t address, const uint8_t *data, uint16_t count,
                                              uint16_t *response_length);
KV4USBCP_API int16_t tkcmdsetUSB_read_eeblk8(uint16_t port, uint32_t address, uint8_t *data, uint16_t count,
                                             uint16_t *response_length);
/* CRC of the image region [address, address + length), waiting 1000 ms + 0.0228 ms per byte. */
KV4USBCP_API int16_t tkcmdsetUSB_get_image_crc(uint16_t port, uint32_t address, uint32_t *crc, uint32_t length,
                                               uint16_t *response_length);
KV4USBCP_API int16_t tkcmdsetUSB_get_update_status(uint16_t port, tkcmdsetUSB_update_status *status,
                                                   uint16_t *response_length);
KV4USBCP_API int16_t tkcmdsetUSB_get_V3_update_status(uint16_t port, tkcmdsetUSB_v3_update_status *status,
                                                      uint16_t *response_length);

/* ---- Device information ------------------------------------------------------------------------ */
/* The monitor's serial number, firmware, hardware and boot-loader versions (USB string
 * descriptors 3 to 6) into buffer (length bytes; terminated when it fits). A device that refuses
 * is taken to be gone: the port is closed and the result is TKUSB_GET_STRING_ERR (-10112). A
 * query waits for a command running on the same port to end. */
KV4USBCP_API int16_t tkcmdsetUSB_serial_number(uint16_t port, char *buffer, uint8_t length);
KV4USBCP_API int16_t tkcmdsetUSB_fw_version(uint16_t port, char *buffer, uint8_t length);
KV4USBCP_API int16_t tkcmdsetUSB_hw_version(uint16_t port, char *buffer, uint8_t length);
KV4USBCP_API int16_t tkcmdsetUSB_loader_fw_version(uint16_t port, char *buffer, uint8_t length);
/* The port's largest report payload, at most 500 (0 for a port never opened). */
KV4USBCP_API int16_t tkcmdsetUSB_max_report_size(uint16_t port, uint16_t *size);
/* The port's buffer mode (TKUSB_BUFFER_MODE_RESPONSE for a new port), open or not. */
KV4USBCP_API int16_t tkcmdsetUSB_get_buffer_mode(uint16_t port, uint8_t *mode);

/* ---- Feature reports --------------------------------------------------------------------------- */
/* Sends value, high byte first, in the smallest feature report that holds 2 bytes; the third
 * argument is not used. A refusal by the device closes the port (TKUSB_SET_FEATURE_ERR). It waits
 * for a command running on the port to end, and returns TKUSB_ASYNC_INPROGRESS_ERR while an
 * asynchronous exchange uses the port, since both need the port's transfer buffer. */
KV4USBCP_API int16_t tkcmdsetUSB_set_feature(uint16_t port, uint16_t value, uint16_t unused);

/* ---- Device events ----------------------------------------------------------------------------- */
/* A registered callback hears of monitors that arrive (TKUSB_EVENT_DEVICE_CONNECTED, once the
 * library has identified and opened the port) and leave (TKUSB_EVENT_DEVICE_DISCONNECTED, while
 * the port is still open; it is closed when the callback returns and keeps its number for the
 * monitor's return, by any socket). Variants 2 and 3 also hear of volumes (drive letters) that
 * arrive and leave. Every call comes from the library's notification thread, one event at a time;
 * registering first reports each monitor attached and not yet open, as if it had just arrived.
 *
 * - One variant at a time: registering while any variant is registered returns
 *   TKUSB_EVENT_REGISTER_ERR, as does registering while the thread of an earlier registration is
 *   still ending, or when the system refuses the thread or its window. Registration returns once
 *   the thread has its window, so an unregistration right after it always reaches the thread. It
 *   waits at most 5000 ms for that: a thread cannot start while the host holds the loader lock (a
 *   registration from DllMain or a static constructor). It then returns TKUSB_EVENT_TIMEOUT_ERR,
 *   nothing stays registered, and the thread, once it runs, ends without a window; register
 *   again from elsewhere.
 * - Unregistering waits at most 1000 ms for the thread: TKUSB_EVENT_TIMEOUT_ERR when it did not
 *   end by then (always so from inside the callback; the thread then ends once the callback
 *   returns). A cleared callback is never called, even by a thread that outlives it.
 * - Monitors are identified and opened through the registry that tkcmdsetUSB_init creates:
 *   register after tkcmdsetUSB_init. Registered before it, monitors arriving before the init are
 *   not reported (nor opened); after tkcmdsetUSB_shutdown_all, arrivals are not reported until the
 *   next init. Shutting down while registered is safe (the thread opens no port of a shut-down
 *   library) but unregister first.
 * - A port that a host thread opens (tkcmdsetUSB_find_devices) while its arrival is handled is
 *   opened once, and then not reported.
 * - Volume texts, valid during the call: variant 2 gets "E:\" on arrival and
 *   "Drive E: DISCONNECTED\n" on removal; variant 3 gets the volume's label (empty for none), or
 *   on an arrival whose label cannot be read the volume's unique name, otherwise an empty text (as
 *   on most removals: the drive is gone). The port argument then carries the unit mask's drives
 *   A: to P: (0 for Q: to Z:); the lowest drive of the mask names the text ('[' for none).
 * - On Linux monitors are heard of through udev (the udev daemon's announcements, or the kernel's
 *   where no daemon runs); no volume event is ever reported, since a Linux mount has no drive
 *   letter to report it by. */
KV4USBCP_API int16_t tkcmdsetUSB_register_events(tkusb_event_callback callback);
KV4USBCP_API int16_t tkcmdsetUSB_register_events2(tkusb_event_callback2 callback);
KV4USBCP_API int16_t tkcmdsetUSB_register_events3(tkusb_event_callback3 callback);
KV4USBCP_API int16_t tkcmdsetUSB_unregister_events(void);
KV4USBCP_API int16_t tkcmdsetUSB_unregister_events2(void);
KV4USBCP_API int16_t tkcmdsetUSB_unregister_events3(void);

/* ---- Asynchronous exchanges -------------------------------------------------------------------- */
/* Registers the one completion callback of the library and starts its I/O thread; timeout (ms)
 * bounds every exchange from its acceptance to its answer. TKUSB_INVALID_PARAMETER for a null
 * callback, TKUSB_EVENT_REGISTER_ERR while one is registered (or the thread of the last one is
 * still ending), TKUSB_ASYNC_REGISTER_ERR when the system refuses the thread. Needs no init. */
KV4USBCP_API int16_t tkcmdsetUSB_register_asyncio(tkusb_asyncio_callback callback, uint16_t timeout);
/* Stops the I/O thread, waiting at most twice the timeout: TKUSB_EVENT_TIMEOUT_ERR when it did not
 * end by then (as when called from the callback itself), TKUSB_EVENT_REGISTER_ERR when nothing is
 * registered. Exchanges under way end with TKUSB_ASYNC_UNREGISTERED. The registration is cleared
 * in either case and no exchange is accepted after the call. After TKUSB_EVENT_TIMEOUT_ERR the
 * thread still runs until the callback it is in returns; the exchanges it still holds then end
 * without a callback (none is registered any more) and their ports are idle again. Until that
 * thread has ended, registering again returns TKUSB_EVENT_REGISTER_ERR. Unregister before
 * tkcmdsetUSB_shutdown_all. */
KV4USBCP_API int16_t tkcmdsetUSB_unregister_asyncio(void);
/* Queues command for the I/O thread and returns at once; 0 means exactly one callback follows
 * (unless an unregistration times out first, above): the answer (the smallest input report that
 * holds the command carries both ways; at most 128 bytes of it), a failure code, or
 * TKUSB_READ_TIMEOUT_ERR after the timeout. The fourth argument is not used. TKUSB_NO_PORT_INIT_ERR, TKUSB_INVALID_PORT_ERR, TKUSB_ASYNC_UNREGISTERED,
 * TKUSB_INVALID_PARAMETER (null command), TKUSB_DEVICE_CLOSED_ERR, TKUSB_TOOLONG_REPORT_ERR, or
 * TKUSB_ASYNC_INPROGRESS_ERR while an exchange or a command holds the port. The callback may
 * queue the next exchange. */
KV4USBCP_API int16_t tkcmdsetUSB_send_command(uint16_t port, const uint8_t *command, uint16_t command_length,
                                              uint16_t unused, uint16_t tag);

#ifdef __cplusplus
}
#endif

#endif /* KV4USBCP_H */
