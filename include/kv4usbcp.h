/**
 * @file kv4usbcp.h
 * @brief Host interface of KV4USBCP, the USB command library for KV4 fitness monitors.
 *
 * A monitor is a USB HID device. The library finds the monitors present, gives each a 16-bit port
 * number, opens it and carries command frames to it and response frames back, one HID report each
 * way. On top of that it offers the monitor's service command set (echo, status, special, memory
 * blocks, image CRC, update status) and reads the monitor's identification strings.
 *
 * Each function below says what its arguments mean and in what unit, which codes it returns,
 * whether the port is open afterwards, how long it may wait and which threads may call it. What
 * holds for many of them is said once here.
 *
 * Results
 * -------
 * Unless said otherwise a function returns a signed 16-bit result code: 0 for success, a negative
 * code listed below, or a code the monitor reported, passed through unchanged (every positive code
 * is the monitor's). tkcmdsetUSB_get_error_name and tkcmdsetUSB_get_error_text turn any code into
 * text. Codes without a row in the library's table read "Unknown Error" / "No further
 * information.": 0 itself, TKUSB_GET_STRING_ERR (-10112, a refused string query) and any monitor
 * code the table does not know. No function lets an exception escape: memory running out inside
 * the library answers TKUSB_SYSTEM_MEMORY_ERR, any other such failure TKUSB_SYSTEM_IO_ERR.
 *
 * Null output pointers: where a function needs an output pointer to report its answer and the
 * host passes null, it returns TKUSB_INVALID_PARAMETER and changes nothing. A length of 0 writes
 * nothing.
 *
 * The port after a result
 * -----------------------
 * A transfer the system refuses means the monitor is gone: the port closes (TKUSB_WRITE_FAILED_ERR
 * and TKUSB_READ_FAILED_ERR from a transaction or exchange, TKUSB_SET_FEATURE_ERR,
 * TKUSB_GET_STRING_ERR). A closed port keeps its number and answers TKUSB_DEVICE_CLOSED_ERR until
 * it is opened again: tkcmdsetUSB_reset_port, tkcmdsetUSB_find_devices, or the monitor's return
 * reported by the device events. A time-out leaves the port open. Every other code leaves the
 * port as it was; note that a block command refuses an oversized block with the same
 * TKUSB_WRITE_FAILED_ERR / TKUSB_READ_FAILED_ERR, the port still open. The page @ref result_codes
 * (docs/result_codes.md) lists every code of the port operations with the port after it.
 *
 * Threads
 * -------
 * Any host thread may call any function, several threads at once, except tkcmdsetUSB_init and
 * tkcmdsetUSB_shutdown_all, which must not overlap any other call. Transactions on one port run
 * one after another (a second caller waits for the first); transactions on different ports run
 * side by side. Device-event callbacks run on the library's notification thread, asynchronous
 * completions on its I/O thread; their registrations say what a callback may call. Unregister
 * every callback before tkcmdsetUSB_shutdown_all.
 *
 * Unloading (Windows): each of the library's threads (the I/O thread, the notification thread)
 * keeps the DLL loaded while it runs, so a FreeLibrary while one runs is safe; the DLL leaves the
 * process when the last of them has ended. Unregister first, or it stays for as long as they run
 * and a registered callback goes on being called: the module that holds the callback must stay.
 *
 * Time-outs
 * ---------
 * The service commands wait fixed times the host cannot change: 1000 ms for echo, status and
 * tkcmdsetUSB_write_memblk16; 6000 ms for special, the other block commands and both update
 * statuses; 1000 ms + 0.0228 ms per byte for the image CRC. tkcmdsetUSB_do_command and
 * tkcmdsetUSB_do_DDIcommand take the host's; asynchronous exchanges the one given at their
 * registration. A transaction waits up to the time-out for its write and again for its read.
 *
 * After a time-out the monitor may still answer. The library drops queued input before it writes
 * a command, not after, so a late answer that arrives while the next command on the port waits is
 * taken as that command's answer. After a time-out, wait out the monitor's longest answer time
 * (6000 ms for the service commands) before the next command on the port, or reopen the port
 * with tkcmdsetUSB_reset_port, which leaves the late answer behind with the old handle.
 *
 * The response length
 * -------------------
 * tkcmdsetUSB_do_command and every block command take a pointer to a response length. In: the
 * number of answer bytes wanted, status byte included; it chooses the input report (the smallest
 * that holds it), and more than the largest input report gives TKUSB_TOOLONG_REPORT_ERR with
 * nothing sent. Out: the number delivered, which is at most the chosen report's size less one, so
 * asking for exactly a report's size gives one byte less.
 *
 * A monitor refuses a command with status byte 0 and its code, big-endian, in bytes 1-2, so ask
 * for at least 3 bytes. With fewer, the code bytes read are ones that were not delivered: the block
 * commands, whose answer area starts zeroed, then report a refusal as 0 (1 byte or none) or as a
 * code made of its high byte only (2 bytes: -10179 comes back as -10240); tkcmdsetUSB_do_command
 * reads bytes 1-2 of the host's own buffer as the code. What to pass: 3 for writes, 5 for the
 * image CRC and the update status, 7 for the V3 update status, N + 1 for a read of N bytes (fewer
 * gives result 0 with the bytes not delivered left zero).
 *
 * See the examples/ folder for hosts that use all of this against the simulated monitor.
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

/** Version of the library, as tkcmdsetUSB_get_dll_version reports it (major in the high byte). */
#define KV4USBCP_VERSION 0x0302

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Result codes ------------------------------------------------------------------------------ */
/** @name Result codes
 * @{ */
/** A result code of the library's table; tkcmdsetUSB_get_error_name and tkcmdsetUSB_get_error_text
 * give its identifier and sentence. Most families are kept for the codes' numbering and never
 * come from this library; docs/result_codes.md lists those a port operation returns. */
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
/** @} */

/* ---- Constants ------------------------------------------------------------------------------- */

/** @name Buffer modes
 * Which length chooses the output report of a transaction.
 * @{ */
/** The command length chooses the output report (block commands use it for their command). */
#define TKUSB_BUFFER_MODE_COMMAND 1
/** The requested response length chooses the output report (every new port). */
#define TKUSB_BUFFER_MODE_RESPONSE 2
/** @} */

/** @name Report-table selectors
 * Note: output is 0 and input 1, unlike the HID parser's numbering.
 * @{ */
/** The output reports. */
#define TKUSB_REPORT_OUTPUT 0
/** The input reports. */
#define TKUSB_REPORT_INPUT 1
/** The feature reports. */
#define TKUSB_REPORT_FEATURE 2
/** @} */

/** @name Event codes
 * Handed to the device-event callbacks.
 * @{ */
/** A monitor arrived and its port has just been opened. */
#define TKUSB_EVENT_DEVICE_CONNECTED 1
/** A monitor left; its port is closed when the callback returns. */
#define TKUSB_EVENT_DEVICE_DISCONNECTED 2
/** A disk volume arrived (variants 2 and 3). */
#define TKUSB_EVENT_VOLUME_ARRIVED 3
/** A disk volume was removed (variants 2 and 3). */
#define TKUSB_EVENT_VOLUME_REMOVED 4
/** @} */

/* ---- Records ----------------------------------------------------------------------------------- */

/** Answer of tkcmdsetUSB_get_update_status; the meaning of the values is the monitor's. */
typedef struct tkcmdsetUSB_update_status {
    uint16_t first_value;  /**< answer bytes 1-2, big-endian */
    uint16_t second_value; /**< answer bytes 3-4, big-endian */
} tkcmdsetUSB_update_status;

/** Answer of tkcmdsetUSB_get_V3_update_status; the meaning of the values is the monitor's. */
typedef struct tkcmdsetUSB_v3_update_status {
    uint32_t first_value;  /**< answer bytes 1-4, big-endian */
    uint16_t second_value; /**< answer bytes 5-6, big-endian */
} tkcmdsetUSB_v3_update_status;

/* ---- Callbacks --------------------------------------------------------------------------------- */

/** Device events, variant 1: the port and the event (TKUSB_EVENT_DEVICE_CONNECTED or
 * TKUSB_EVENT_DEVICE_DISCONNECTED). Called on the library's notification thread. */
typedef void (*tkusb_event_callback)(uint16_t port, int32_t event);
/** Variant 2: also the product name and serial number, valid until tkcmdsetUSB_shutdown_all, and
 * volume events (the texts then valid during the call; see tkcmdsetUSB_register_events). */
typedef void (*tkusb_event_callback2)(uint16_t port, int32_t event, const char *product_name,
                                      const char *serial_number);
/** Variant 3: also the USB product ID. */
typedef void (*tkusb_event_callback3)(uint16_t port, int32_t event, const char *product_name,
                                      const char *serial_number, uint16_t product_id);
/** Completion of an asynchronous exchange, called on the library's I/O thread, once for every
 * accepted tkcmdsetUSB_send_command. tag is the value given to it, seen as a signed 16-bit
 * value (tags from 0x8000 up read negative).
 *
 * result is 0 when the answer arrived: data then points to length bytes (the chosen input
 * report's size less one, at most 128), valid only during the call. result does not look at the
 * monitor's status byte: data[0] is that byte, and 0 there means the monitor refused, its code in
 * data[1..2], big-endian. On failure data is null, length 0 and result the failure code:
 * TKUSB_READ_TIMEOUT_ERR (no answer within the registration's time-out; port open),
 * TKUSB_WRITE_FAILED_ERR or TKUSB_READ_FAILED_ERR (the system refused the transfer; port
 * closed), TKUSB_DEVICE_CLOSED_ERR (the port closed before or during the exchange),
 * TKUSB_ASYNC_INPROGRESS_ERR (the answer was signalled but not yet there; port open),
 * TKUSB_ASYNC_UNREGISTERED (unregistered while the exchange was under way). */
typedef void (*tkusb_asyncio_callback)(uint16_t port, const uint8_t *data, uint16_t length,
                                       int16_t result, int16_t tag);

/* ---- Result codes as text ---------------------------------------------------------------------- */

/** Writes the identifier of code ("TKUSB_INVALID_PORT_ERR"; "Unknown Error" for a code without a
 * row, 0 and -10112 among them) into buffer: at most length bytes, zero-filled to length, not
 * terminated when it fills the buffer (36 bytes always suffice; pass one less than the buffer for
 * a terminated text). Any state, any thread; returns nothing. */
KV4USBCP_API void tkcmdsetUSB_get_error_name(int16_t code, char *buffer, uint16_t length);
/** Writes the sentence of code ("No further information." for a code without a row) the same way
 * (140 bytes always suffice). Any state, any thread; returns nothing. */
KV4USBCP_API void tkcmdsetUSB_get_error_text(int16_t code, char *buffer, uint16_t length);

/* ---- Lifecycle and locking --------------------------------------------------------------------- */

/** Starts the library (after a full teardown when already started: every port closes and is
 * forgotten): port numbering restarts at 0. 0, or TKUSB_OS_UNSUPPORTED on a refused Windows
 * version (the library then stays stopped). Must not overlap any other call. */
KV4USBCP_API int16_t tkcmdsetUSB_init(void);
/** Closes and forgets every port and ends the library's lock; always 0, in any state. Does not
 * stop the library's threads: unregister every callback first. Must not overlap any other call. */
KV4USBCP_API int16_t tkcmdsetUSB_shutdown_all(void);
/** Closes one port; it keeps its number and opens again with tkcmdsetUSB_reset_port or
 * discovery. 0 (also for a port already closed), or TKUSB_INVALID_PORT_ERR for a port never handed
 * out (every port before tkcmdsetUSB_init). Any thread; a transfer running on the port on another
 * thread ends with TKUSB_DEVICE_CLOSED_ERR. */
KV4USBCP_API int16_t tkcmdsetUSB_shutdown(uint16_t port);
/** Takes the library's re-entrant process-wide lock, which holds off other threads' port lookups
 * (and so their commands, and the library's own threads) until tkcmdsetUSB_unlock; the holder's
 * own calls go through. 0, or TKCMDSET_MUTEX_FAILED_ERR while the library is not started. */
KV4USBCP_API int16_t tkcmdsetUSB_lock(void);
/** Leaves the lock taken with tkcmdsetUSB_lock, once per take. 0, or TKCMDSET_MUTEX_FAILED_ERR
 * while the library is not started. */
KV4USBCP_API int16_t tkcmdsetUSB_unlock(void);
/** The library version, KV4USBCP_VERSION (0x0302), in any state; not a result code. */
KV4USBCP_API uint16_t tkcmdsetUSB_get_dll_version(void);

/* ---- Discovery and reopening ------------------------------------------------------------------- */

/** Finds the monitors present and opens them.
 *
 * Each HID device whose USB product string contains filter (case-sensitive: "Quillon5" finds a
 * "KV4 Quillon5 Monitor", "quillon5" does not) is registered once per serial number under a port
 * number it keeps until tkcmdsetUSB_shutdown_all, and opened. Then the ports of every open
 * monitor, whatever the filter, are written to ports (room for 255 entries) and their number to
 * *count (count may be null). Note the order: count before ports.
 *
 * Returns 0, TKUSB_NO_PORT_INIT_ERR before tkcmdsetUSB_init, TKUSB_INVALID_PARAMETER for a null
 * filter or ports. A monitor that cannot be opened is left closed and unlisted.
 *
 * Time: probing a device that another handle holds costs a 100 ms retry. That includes every
 * monitor this process has open, so each call costs 100 ms per open monitor; a monitor held
 * open by another program is not listed. Any thread. */
KV4USBCP_API int16_t tkcmdsetUSB_find_devices(const char *filter, uint8_t *count, uint16_t *ports);
/** Closes the port and opens its monitor again (also a port that is closed). 0, or
 * TKUSB_OPEN_DEVICE_ERR when the monitor is gone, TKUSB_SYSTEM_IO_ERR when it cannot be opened
 * (port closed in both cases), TKUSB_INVALID_PORT_ERR for a port never handed out. Input queued
 * on the old handle, a late answer among it, is left behind. Any thread. */
KV4USBCP_API int16_t tkcmdsetUSB_reset_port(uint16_t port);

/* ---- Transactions ------------------------------------------------------------------------------ */

/** Sends a frame of the host's making and reads the monitor's answer.
 *
 * command (command_length bytes) goes out in one HID output report, unchanged; the answer comes
 * back from one input report into response, which holds at least 3 bytes and at least
 * *response_length (see "The response length" in the introduction: in, bytes wanted; out, bytes
 * delivered). The port's buffer mode says which length chooses the output report. timeout (ms,
 * the host's choice) bounds the write and then the read; a write waits at least 20 ms, and a read
 * with a timeout of 0 gives up at once unless the answer is there.
 *
 * Result, by the response-status rule: a transport failure as it came; else 0 when response[0]
 * (the monitor's status byte) is non-zero; else the monitor's code from response[1..2],
 * big-endian (0 when both are zero). Transport failures: TKUSB_NO_PORT_INIT_ERR,
 * TKUSB_INVALID_PORT_ERR, TKUSB_DEVICE_CLOSED_ERR, TKUSB_INVALID_PARAMETER (null response or
 * response_length, or a null command of non-zero length), TKUSB_TOOLONG_REPORT_ERR (no report
 * holds the answer or the command; nothing sent), TKUSB_ASYNC_INPROGRESS_ERR (an asynchronous
 * exchange holds the port), TKUSB_WRITE_TIMEOUT_ERR / TKUSB_READ_TIMEOUT_ERR (port open; see
 * "After a time-out"), TKUSB_WRITE_FAILED_ERR / TKUSB_READ_FAILED_ERR (the system refused the
 * transfer: port closed). Any thread; waits for a transaction already running on the port. */
KV4USBCP_API int16_t tkcmdsetUSB_do_command(uint16_t port, const uint8_t *command, uint16_t command_length,
                                            uint8_t *response, uint16_t *response_length, uint16_t timeout);
/** tkcmdsetUSB_do_command after setting the port's buffer mode to TKUSB_BUFFER_MODE_RESPONSE
 * (the mode stays so). Same arguments, codes and threads. */
KV4USBCP_API int16_t tkcmdsetUSB_do_DDIcommand(uint16_t port, const uint8_t *command, uint16_t command_length,
                                               uint8_t *response, uint16_t *response_length, uint16_t timeout);
/** Echo: sends data (length bytes) to the monitor and asks for as many back; only the result
 * matters, the answer is not compared.
 *
 * Frame: 0A, then the data, padded to at least 110 bytes; as many answer bytes are asked for.
 * The frame and its answer must fit the largest report, so with 500-byte reports at most 499 data
 * bytes go; 500 to 511 give TKUSB_TOOLONG_REPORT_ERR (nothing sent, port open), more than 511
 * TKUSB_INVALID_PARAMETER. Time-out 1000 ms. Codes as tkcmdsetUSB_do_command. Any thread. */
KV4USBCP_API int16_t tkcmdsetUSB_echo(uint16_t port, const uint8_t *data, uint16_t length);
/** Status: the monitor's 32-bit status word.
 *
 * Frame: 0C. The answer's bytes 0-3, big-endian, go to *status; byte 0 is the status byte, so a
 * word whose top byte is 0 is taken for a refusal: the result is then the code of bytes 1-2
 * (0x00001234 gives 18, a positive code; 0x00000000 gives 0) and *status is 0. *status is 0 on
 * every failure. Asks for the largest report's payload (at most 500 bytes). Time-out 1000 ms.
 * Codes as tkcmdsetUSB_do_command, and TKUSB_INVALID_PARAMETER for a null status. Any thread. */
KV4USBCP_API int16_t tkcmdsetUSB_status(uint16_t port, uint32_t *status);
/** Special: a command whose meaning is the monitor's, with two arguments.
 *
 * Frame: 0D, argument1 (2 bytes), argument2 (4 bytes), big-endian. The answer's bytes 1-4,
 * big-endian, go to *value (may be null; 0 on failure). Leaves the port in
 * TKUSB_BUFFER_MODE_RESPONSE. Asks for the largest report's payload (at most 500 bytes).
 * Time-out 6000 ms. Codes as tkcmdsetUSB_do_command. Any thread. */
KV4USBCP_API int16_t tkcmdsetUSB_special(uint16_t port, uint16_t argument1, uint32_t argument2, uint32_t *value);

/* ---- Memory and firmware blocks ---------------------------------------------------------------- */
/** @defgroup blocks Memory and firmware blocks
 *
 * Each builds one frame (addresses and counts big-endian, data bytes in the host's order), runs
 * it as tkcmdsetUSB_do_command does in TKUSB_BUFFER_MODE_COMMAND and puts the port's buffer mode
 * back. The answer is the status byte, then a read's data. Addresses are sent as given: monitors
 * (the simulated one too) take them as byte addresses, also for the commands that count 16-bit
 * words, so a block of W words moves the next address on by 2 W. EEPROM commands send the low 16
 * bits of the address only.
 *
 * The block size is checked against the port's largest report M (tkcmdsetUSB_max_report_size,
 * taken as at most 500) before anything else: a larger block returns TKUSB_WRITE_FAILED_ERR or
 * TKUSB_READ_FAILED_ERR without contacting the monitor, the port still open; an empty one 0.
 * A report delivers one byte less than its size, so a read whose N + 1 answer bytes exactly fill
 * the largest report gets its last byte as 0: reads arrive whole up to M - 2 bytes.
 *
 * | M (largest report) | flash, SPI flash, RAM write | EEPROM write | read accepted | read whole |
 * |--------------------|----------------------------|--------------|---------------|------------|
 * | general            | M - 9, made even           | M - 7, even  | M - 1         | M - 2      |
 * | 20                 | 10 bytes (5 words)         | 12           | 19            | 18 (9 words)   |
 * | 64                 | 54 bytes (27 words)        | 56           | 63            | 62 (31 words)  |
 * | 120                | 110 bytes (55 words)       | 112          | 119           | 118 (59 words) |
 * | 500 or more        | 490 bytes (245 words)      | 492          | 499           | 498 (249 words)|
 *
 * *response_length: see "The response length" in the introduction (3 for writes, N + 1 for
 * reads; at most 501, else TKUSB_INVALID_PARAMETER, and at most the largest input report, else
 * TKUSB_TOOLONG_REPORT_ERR). Codes: those of tkcmdsetUSB_do_command, the block checks above,
 * TKUSB_INVALID_PARAMETER for null data or response_length (with a non-empty block). Reads copy
 * their data only on result 0. Time-out 6000 ms (1000 ms for tkcmdsetUSB_write_memblk16).
 *
 * Any thread, but one block command at a time per port: each switches the port's buffer mode for
 * its transaction, and two at once on one port (or one beside tkcmdsetUSB_do_DDIcommand or
 * tkcmdsetUSB_special) can leave the mode wrong.
 * @{ */
/** Flash write, in 16-bit words. Frame: 22, address (4), words (2), data (2 × words bytes). */
KV4USBCP_API int16_t tkcmdsetUSB_write_flashblk16(uint16_t port, uint32_t address, const uint8_t *data,
                                                  uint32_t words, uint16_t *response_length);
/** Flash read, in 16-bit words, into data (2 × words bytes). Frame: 23, address (4), words (2). */
KV4USBCP_API int16_t tkcmdsetUSB_read_flashblk16(uint16_t port, uint32_t address, uint8_t *data, uint32_t words,
                                                 uint16_t *response_length);
/** SPI flash write, in bytes. Frame: 29, address (4), count (2), data. */
KV4USBCP_API int16_t tkcmdsetUSB_write_spiflashblk8(uint16_t port, uint32_t address, const uint8_t *data,
                                                    uint32_t count, uint16_t *response_length);
/** SPI flash read, in bytes. Frame: 2A, address (4), count (2). */
KV4USBCP_API int16_t tkcmdsetUSB_read_spiflashblk8(uint16_t port, uint32_t address, uint8_t *data, uint32_t count,
                                                   uint16_t *response_length);
/** RAM write, in 16-bit words; time-out 1000 ms. Frame: 1A, address (4), words (2), data. */
KV4USBCP_API int16_t tkcmdsetUSB_write_memblk16(uint16_t port, uint32_t address, const uint8_t *data,
                                                uint32_t words, uint16_t *response_length);
/** RAM write, in bytes. Frame: 1E, address (4), count (2), data. */
KV4USBCP_API int16_t tkcmdsetUSB_write_memblk8(uint16_t port, uint32_t address, const uint8_t *data, uint16_t count,
                                               uint16_t *response_length);
/** RAM read, in bytes. Frame: 1F, address (4), count (2). */
KV4USBCP_API int16_t tkcmdsetUSB_read_memblk8(uint16_t port, uint32_t address, uint8_t *data, uint16_t count,
                                              uint16_t *response_length);
/** EEPROM write, in bytes. Frame: 24, address (low 2 bytes), count (2), data. */
KV4USBCP_API int16_t tkcmdsetUSB_write_eeblk8(uint16_t port, uint32_t address, const uint8_t *data, uint16_t count,
                                              uint16_t *response_length);
/** EEPROM read, in bytes. Frame: 25, address (low 2 bytes), count (2). */
KV4USBCP_API int16_t tkcmdsetUSB_read_eeblk8(uint16_t port, uint32_t address, uint8_t *data, uint16_t count,
                                             uint16_t *response_length);
/** CRC of the firmware image region [address, address + length) (bytes), as the monitor
 * computes it, into *crc (answer bytes 1-4, big-endian; pass a response length of 5).
 * Frame: 2C, address (4), length (4).
 *
 * The wait grows with the region: 1000 ms + 0.0228 ms per byte, truncated (100000 bytes: 3280 ms;
 * 1 MiB: 24907 ms), taken to 16 bits like every transaction time-out. From 2830527 bytes on it
 * wraps around: 0xFFFFFFFF bytes wait 15470 ms, and a wrapped wait can be too short for the
 * monitor. TKUSB_INVALID_PARAMETER for a null crc. */
KV4USBCP_API int16_t tkcmdsetUSB_get_image_crc(uint16_t port, uint32_t address, uint32_t *crc, uint32_t length,
                                               uint16_t *response_length);
/** Firmware update status into *status (answer bytes 1-4; pass 5). Frame: 2D. TKUSB_INVALID_PARAMETER
 * for a null status. */
KV4USBCP_API int16_t tkcmdsetUSB_get_update_status(uint16_t port, tkcmdsetUSB_update_status *status,
                                                   uint16_t *response_length);
/** Firmware update status, third generation, into *status (answer bytes 1-6; pass 7).
 * Frame: 2E. TKUSB_INVALID_PARAMETER for a null status. */
KV4USBCP_API int16_t tkcmdsetUSB_get_V3_update_status(uint16_t port, tkcmdsetUSB_v3_update_status *status,
                                                      uint16_t *response_length);
/** @} */

/* ---- Device information ------------------------------------------------------------------------ */
/** @defgroup strings Identification strings
 *
 * The monitor's serial number, firmware, hardware and boot-loader versions: USB string
 * descriptors 3, 4, 5 and 6, read from the device without a command, into buffer (length bytes,
 * as 8-bit text, in the ANSI code page on Windows; terminated when it fits, so pass one byte less
 * than the buffer to have it always terminated). At most 62 characters arrive.
 *
 * Codes: 0, TKUSB_NO_PORT_INIT_ERR, TKUSB_INVALID_PORT_ERR, TKUSB_INVALID_PARAMETER (null buffer
 * with a non-zero length), TKUSB_DEVICE_CLOSED_ERR, TKUSB_ASYNC_INPROGRESS_ERR while an
 * asynchronous exchange holds the port, and TKUSB_GET_STRING_ERR (-10112, named "Unknown Error")
 * when the device refuses: it is taken to be gone and the port is closed. On Linux a HID device
 * that is not on USB always refuses. Any thread; a query waits for a command running on the same
 * port to end.
 * @{ */
/** Serial number (string descriptor 3). */
KV4USBCP_API int16_t tkcmdsetUSB_serial_number(uint16_t port, char *buffer, uint8_t length);
/** Firmware version (string descriptor 4). */
KV4USBCP_API int16_t tkcmdsetUSB_fw_version(uint16_t port, char *buffer, uint8_t length);
/** Hardware version (string descriptor 5). */
KV4USBCP_API int16_t tkcmdsetUSB_hw_version(uint16_t port, char *buffer, uint8_t length);
/** Boot-loader firmware version (string descriptor 6). */
KV4USBCP_API int16_t tkcmdsetUSB_loader_fw_version(uint16_t port, char *buffer, uint8_t length);
/** @} */
/** The port's largest report payload M into *size, at most 500 (0 for a port never opened, and
 * after TKUSB_NO_PORT_INIT_ERR or TKUSB_INVALID_PORT_ERR): what the block commands size their
 * blocks by. 0, those two codes, TKUSB_INVALID_PARAMETER. Contacts no device; any thread. */
KV4USBCP_API int16_t tkcmdsetUSB_max_report_size(uint16_t port, uint16_t *size);
/** The port's buffer mode into *mode (TKUSB_BUFFER_MODE_RESPONSE for a new port), open or
 * closed. 0, TKUSB_NO_PORT_INIT_ERR, TKUSB_INVALID_PORT_ERR, TKUSB_INVALID_PARAMETER. Contacts
 * no device; any thread. */
KV4USBCP_API int16_t tkcmdsetUSB_get_buffer_mode(uint16_t port, uint8_t *mode);

/* ---- Feature reports --------------------------------------------------------------------------- */
/** Sends value, high byte first, in the smallest feature report that holds 2 bytes; the third
 * argument is not used. Codes: 0, TKUSB_NO_PORT_INIT_ERR, TKUSB_INVALID_PORT_ERR,
 * TKUSB_DEVICE_CLOSED_ERR, TKUSB_TOOLONG_REPORT_ERR (no feature report holds 2 bytes),
 * TKUSB_ASYNC_INPROGRESS_ERR while an asynchronous exchange holds the port (both need the port's
 * transfer buffer), and TKUSB_SET_FEATURE_ERR when the device refuses: the port is closed. It
 * has no time-out of its own: it blocks as long as the system's feature request. Any thread;
 * waits for a command running on the port to end. */
KV4USBCP_API int16_t tkcmdsetUSB_set_feature(uint16_t port, uint16_t value, uint16_t unused);

/* ---- Device events ----------------------------------------------------------------------------- */
/** @defgroup events Device events
 *
 * A registered callback hears of monitors that arrive (TKUSB_EVENT_DEVICE_CONNECTED, once the
 * library has identified and opened the port) and leave (TKUSB_EVENT_DEVICE_DISCONNECTED, while
 * the port is still open; it is closed when the callback returns and keeps its number for the
 * monitor's return, by any socket). Variants 2 and 3 also hear of volumes (drive letters) that
 * arrive and leave. Every call comes from the library's notification thread, one event at a time;
 * registering first reports each monitor attached and not yet open, as if it had just arrived.
 *
 * - Codes: 0; TKUSB_INVALID_PARAMETER for a null callback; TKUSB_EVENT_REGISTER_ERR when
 *   unregistering a variant that is not registered.
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
 * - What a callback may call: commands and queries on any port (the port of an arrival is open;
 *   that of a departure is open too, but its monitor is gone, so a command on it fails and
 *   closes it), tkcmdsetUSB_send_command, the library's lock. Not tkcmdsetUSB_init or
 *   tkcmdsetUSB_shutdown_all; an unregistration from inside it costs its full 1000 ms, as above.
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
 *   letter to report it by.
 * @{ */
/** Registers variant 1 (port and event). */
KV4USBCP_API int16_t tkcmdsetUSB_register_events(tkusb_event_callback callback);
/** Registers variant 2 (also product name and serial number; volume events). */
KV4USBCP_API int16_t tkcmdsetUSB_register_events2(tkusb_event_callback2 callback);
/** Registers variant 3 (also the USB product ID; volume labels). */
KV4USBCP_API int16_t tkcmdsetUSB_register_events3(tkusb_event_callback3 callback);
/** Unregisters variant 1. */
KV4USBCP_API int16_t tkcmdsetUSB_unregister_events(void);
/** Unregisters variant 2. */
KV4USBCP_API int16_t tkcmdsetUSB_unregister_events2(void);
/** Unregisters variant 3. */
KV4USBCP_API int16_t tkcmdsetUSB_unregister_events3(void);
/** @} */

/* ---- Asynchronous exchanges -------------------------------------------------------------------- */
/** Registers the one completion callback of the library (tkusb_asyncio_callback) and starts its
 * I/O thread. Needs no tkcmdsetUSB_init.
 *
 * timeout (milliseconds) bounds every exchange from its acceptance to its answer, write and read
 * together; an exchange older than that ends with TKUSB_READ_TIMEOUT_ERR, noticed within about
 * 10 ms. It also sets how long tkcmdsetUSB_unregister_asyncio waits (twice the timeout). With 0 an
 * exchange ends in time only if its answer is already there when the I/O thread next looks, and
 * an unregistration does not wait at all (it returns TKUSB_EVENT_TIMEOUT_ERR).
 *
 * Codes: 0; TKUSB_INVALID_PARAMETER for a null callback; TKUSB_EVENT_REGISTER_ERR while one is
 * registered (or the thread of the last one is still ending); TKUSB_ASYNC_REGISTER_ERR when the
 * system refuses the thread. Any thread.
 *
 * What the callback may call: tkcmdsetUSB_send_command, also to queue the next exchange of the
 * same port (the port is idle again when the callback runs); the library's lock; queries. It
 * runs every completion of every port, so what it does delays the others: a synchronous command
 * from it holds them all up. Not tkcmdsetUSB_unregister_asyncio (below), nor tkcmdsetUSB_init or
 * tkcmdsetUSB_shutdown_all. */
KV4USBCP_API int16_t tkcmdsetUSB_register_asyncio(tkusb_asyncio_callback callback, uint16_t timeout);
/** Stops the I/O thread, waiting at most twice the timeout: TKUSB_EVENT_TIMEOUT_ERR when it did not
 * end by then, TKUSB_EVENT_REGISTER_ERR when nothing is registered, else 0. Exchanges under way
 * end with TKUSB_ASYNC_UNREGISTERED. The registration is cleared in either case and no exchange is
 * accepted after the call.
 *
 * Called from the callback itself it always takes the whole twice-the-timeout and returns
 * TKUSB_EVENT_TIMEOUT_ERR: the thread it waits for is the caller. After TKUSB_EVENT_TIMEOUT_ERR the
 * thread still runs until the callback it is in returns; the exchanges it still holds then end
 * without a callback (none is registered any more) and their ports are idle again. Until that
 * thread has ended, registering again returns TKUSB_EVENT_REGISTER_ERR. Unregister before
 * tkcmdsetUSB_shutdown_all. Any thread. */
KV4USBCP_API int16_t tkcmdsetUSB_unregister_asyncio(void);
/** Queues command (command_length bytes) for the I/O thread and returns at once; 0 means exactly
 * one callback follows, carrying tag (unless an unregistration times out first: see
 * tkcmdsetUSB_unregister_asyncio).
 *
 * The smallest input report that holds the command carries it and its answer both ways, so the
 * callback gets that report's size less one byte, at most 128: a 1-byte command on the default
 * layout (reports of 20, 60, 120 and 500 bytes) gets 19 bytes back. Pad the command to get a
 * longer answer. The fourth argument is not used.
 *
 * Codes: 0; TKUSB_NO_PORT_INIT_ERR, TKUSB_INVALID_PORT_ERR, TKUSB_ASYNC_UNREGISTERED (no callback
 * registered), TKUSB_INVALID_PARAMETER (a null command of non-zero length), TKUSB_DEVICE_CLOSED_ERR,
 * TKUSB_TOOLONG_REPORT_ERR (no input report holds the command), TKUSB_ASYNC_INPROGRESS_ERR while
 * an exchange or a command holds the port. None of them sends anything or changes the port. Any
 * thread, the callback's included. */
KV4USBCP_API int16_t tkcmdsetUSB_send_command(uint16_t port, const uint8_t *command, uint16_t command_length,
                                              uint16_t unused, uint16_t tag);

#ifdef __cplusplus
}
#endif

#endif /* KV4USBCP_H */
