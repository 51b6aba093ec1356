/*
 * error_table.cpp - result codes as identifiers and sentences.
 *
 * The table names not only the library's own codes but also those of the neighbouring components
 * that share the numbering, and those the monitor reports inside a response, so that a host can
 * name any code it meets through this one library. Identifiers and sentences are kept byte for
 * byte as hosts have always seen them, misspellings and double spaces included: hosts compare
 * and log these strings.
 */
#include "api/error_table.h"

#include "kv4usbcp.h"
#include "platform/boundary.h"

namespace kv4 {

// Code and identifier come from the same token, so the two can never disagree.
#define ROW(identifier, text) {identifier, #identifier, text}

const error_table_entry error_table[error_table_rows + 1] = {
    // Timing
    ROW(TKTIME_NO_HIRES_ERR,
     "A high performance counter is not available in this hardware configuration."),
    ROW(TKTIME_ABORT_ERR, "The delay terminated prematurely due to a Windows quit message."),

    // USB port layer (-10112 is raised but deliberately has no row)
    ROW(TKUSB_INVALID_PORT_ERR, "An invalid port number was specified"),
    ROW(TKUSB_INVALID_DEVICE_NAME_ERR, "The USB device name is invalid"),
    ROW(TKUSB_WRITE_FAILED_ERR, "Could not send data to the USB device"),
    ROW(TKUSB_WRITE_INCOMPLETE_ERR, "The write operation did not complete"),
    ROW(TKUSB_WRITE_TIMEOUT_ERR,
     "The write operation did not complete within the timeout period"),
    ROW(TKUSB_READ_FAILED_ERR, "Could not read data from the USB device"),
    ROW(TKUSB_READ_INCOMPLETE_ERR, "The USB read operation did not complete"),
    ROW(TKUSB_READ_TIMEOUT_ERR,
     "The USB read operation did not complete within the timeout period"),
    ROW(TKUSB_DATA_NOT_AVAILABLE_ERR, "The required USB information is not available"),
    ROW(TKUSB_NO_PORT_INIT_ERR, "The USB port has not been initialized"),
    ROW(TKUSB_FLUSH_FAILED_ERR, "Cannot flush the data from the USB receive buffer"),
    ROW(TKUSB_SET_FEATURE_ERR, "Error sending a feature report to the USB device"),
    ROW(TKUSB_INVALID_ECODE_FILE_ERR, "Invalide Ecode file"),
    ROW(TKUSB_OS_UNSUPPORTED, "OS not supported"),
    ROW(TKUSB_SYSTEM_IO_ERR, "System I/O Error"),
    ROW(TKUSB_OPEN_DEVICE_ERR, "Open Device Error"),
    ROW(TKUSB_RELEASE_DEVICE_ERR, "Release Device Error"),
    ROW(TKUSB_SYSTEM_MEMORY_ERR, "System Memory Error"),
    ROW(TKUSB_IOREGISTRY_ERR, "I/O Registry Error"),
    ROW(TKUSB_TOOLONG_REPORT_ERR, "Report Too Long Error"),
    ROW(TKUSB_OVERFLOW_ERR, "Overflow Error"),
    ROW(TKUSB_GET_DESCRIPTOR_ERR, "Get Descriptor Error"),
    ROW(TKUSB_DEVICE_CLOSED_ERR, "Device Closed Error"),
    ROW(TKUSB_EVENT_REGISTER_ERR, "Event Register Error"),
    ROW(TKUSB_INVALID_PARAMETER, "Invalid USB Paremeter"),
    ROW(TKUSB_EVENT_TIMEOUT_ERR, "USB Timeout Error"),
    ROW(TKUSB_ASYNC_REGISTER_ERR, "Aysnc Register Error"),
    ROW(TKUSB_ASYNC_INPROGRESS_ERR, "Async Operation In Progress Error"),
    ROW(TKUSB_ASYNC_UNREGISTERED, "Async Unregistered Error"),
    ROW(TKUSB_UNSUPPORTED, "USB Unsupported"),

    // Device driver interface
    ROW(TKDDI_INVALID_PORT_ERR, "An invalid port number was specified"),
    ROW(TKDDI_NOT_IMPLEMENTED_ERR, "Feature not implemented"),
    ROW(TKDDI_UNIT_ADDRESS_ERR, "Unit address out of range"),
    ROW(TKDDI_PROTOCOL_INIT_ERR, "Protocol init failed. Null pointer passed."),
    ROW(TKDDI_PROTOCOL_NOT_DEFINED_ERR, "Protocol not initialized."),
    ROW(TKDDI_MEMORY_ALLOC_ERR, "TKDDI memory allocation error."),

    // CSAFE command layer (no rows for -10190 and -10191)
    ROW(TKCSAFE_KV4_CMD_CONFIG_ERR, "Error initializing KV4 command structures."),
    ROW(TKCSAFE_UNDEFINED_KV4_CMD_ERR,
     "KV4 command not defined in the INI file or too many command parameters."),
    ROW(TKCSAFE_UNDEFINED_DATA_TYPE_ERR, "Undefined data type in KV4CSAFE.INI file."),
    ROW(TKCSAFE_UNDEFINED_KV4_RSP_ERR, "KV4 response not defined in the INI file."),
    ROW(TKCSAFE_CMD_DATA_EXCEEDS_LIMIT, "CSAFE command data exceeds frame limit."),
    ROW(TKCSAFE_RSP_DATA_EXCEEDS_LIMIT, "CSAFE response data exceeded frame limit."),
    ROW(TKCSAFE_INCORRECT_CMD_PARAMS, "KV4 command has not enough parameters."),
    ROW(TKCSAFE_INCORRECT_RSP_PARAMS, "KV4 response had unexpected number of data bytes."),
    ROW(TKCSAFE_DATATAB_NOT_FOUND,
     "DataTab not found. Check to see that it is inserted properly."),
    ROW(TKCSAFE_DATATAB_INVALID_ADDRESS, "Invalid Data Tab address."),
    ROW(TKCSAFE_DATATAB_INVALID, "Invalid Data Tab type."),
    ROW(TKCSAFE_INI_FILE_CMD_TYPE_INVALID, "Invalid command type in initialization file."),
    ROW(TKCSAFE_INI_FILE_DATA_TYPE_INVALID, "Invalid data type in initialization file."),
    ROW(TKCSAFE_DATATAB_READ_ERROR, "DataTab read error."),
    ROW(TKCSAFE_CSAFE_FRAME_TOO_LONG_ERR, "CSAFE command frame too long."),
    ROW(TKCSAFE_INVALID_ADDRESS_IN_RSP_ERR, "CSAFE invalid address in response."),
    ROW(TKCSAFE_INVALID_ID_IN_RSP_ERR, "CSAFE invalid command ID in response."),
    ROW(TKCSAFE_NO_MEMORY_RETURNED, "KV4 returned no memory data."),
    ROW(TKCSAFE_AUTHENTICATION_FAILED, "KV4 authentication failed."),
    ROW(TKCSAFE_NULL_POINTER_TO_STRING_ERR, "CSAFE null pointer to string in command."),
    ROW(TKCSAFE_DATATAB_WRITE_ERROR, "DataTab write error."),

    // CSAFE framing; these small codes come back from the monitor
    ROW(TKFRAME_CSAFE_FRAME_STUFF_ERR, "Error stuffing CSAFE frame"),
    ROW(TKFRAME_CSAFE_FRAME_CHKSM_ERR, "CSAFE frame checksum error"),
    ROW(TKFRAME_NO_SCI_FRAME_ERR, "A valid frame was not received on the SCI interface"),
    ROW(TKFRAME_NO_USB_FRAME_ERR, "A valid frame was not received on the USB interface"),
    ROW(TKFRAME_CSAFE_INVALID_SHORT_CMD_ERR, "An invalid CSAFE short command was received"),
    ROW(TKFRAME_CSAFE_INVALID_LONG_CMD_ERR, "An invalid CSAFE long command was received"),
    ROW(TKFRAME_CSAFE_NO_END_CHAR_ERR, "CSAFE frame missing end character"),

    // Command set
    ROW(TKCMDSET_NO_ECODE_FILE_ERR,
     "The Error Code Description File is not available, full error information will not be "
     "available."),
    ROW(TKCMDSET_DEVICE_NOT_FOUND_ERR,
     "A USB connection could not be established with the KV4."),
    ROW(TKCMDSET_MUTEX_TIMEOUT_ERR, "Communication in use by another process for too long"),
    ROW(TKCMDSET_MUTEX_FAILED_ERR, "Synchronization mechanism failure"),
    ROW(TKCMDSET_INVALID_RESPONSE_ERR, "An invalid response was returned by the device"),
    ROW(TKCMDSET_UNEXPECTED_RESPONSE_ERR,
     "The expected response was not returned by the device"),

    // S-record files
    ROW(TKSFILE_END_OF_FILE_ERR, "The end of the S Record file was found prematurely"),
    ROW(TKSFILE_FILE_READ_ERR, "Cannot read data in S Record file"),
    ROW(TKSFILE_INVALID_TYPE_ERR, "The S Record file is not a valid type"),
    ROW(TKSFILE_BAD_CHECKSUM_ERR, "The S Record checksum is incorrect"),
    ROW(TKSFILE_INVALID_LENGTH_ERR, "The S Record length is incorrect"),
    ROW(TKSFILE_INVALID_RECORD_ERR, "An invalid S Record type was found"),
    ROW(TKSFILE_INVALID_FILE_ERR, "The S Record file is invalid"),
    ROW(TKSFILE_FILE_NOT_FOUND_ERR, "The S Record file cannot be found"),
    ROW(TKSFILE_OUTSIDE_BUFFER_ERR,
     "The memory address specified in the S Record file is outside the range of the buffer"),

    // Cipher
    ROW(TKCIPHER_NOT_BLOCK_MULT_ERR,
     "The size of the block to decipher is not an even multiple of the minimum cipher block size"),

    // Registry
    ROW(TKREG_CANNOT_CREATE_KEY_ERR, "The specified registry key cannot be created"),
    ROW(TKREG_NO_OPEN_KEY_ERR, "No registry key is currently open"),
    ROW(TKREG_STRING_NOT_FOUND_ERR, "The specified string cannot be found in the registry"),
    ROW(TKREG_STRING_SAVE_ERR, "Unable to save the string to the registry"),

    // Serial ports
    ROW(TKCOM_INVALID_PORT_ERR, "The identifier for the port is invalid"),
    ROW(TKCOM_INVALID_DEVICE_NAME_ERR, "A device with the specified name cannot be located"),
    ROW(TKCOM_WRITE_FAILED_ERR, "Write operation failed"),
    ROW(TKCOM_WRITE_INCOMPLETE_ERR, "Write operation incomplete"),
    ROW(TKCOM_WRITE_TIMEOUT_ERR, "A timeout occurred during a write operation"),
    ROW(TKCOM_READ_FAILED_ERR, "Read operation failed"),
    ROW(TKCOM_READ_INCOMPLETE_ERR, "Read operation incomplete"),
    ROW(TKCOM_READ_TIMEOUT_ERR, "A timeout occurred during a read operation"),
    ROW(TKCOM_DATA_NOT_AVAILABLE_ERR, "No data available"),
    ROW(TKCOM_NO_PORT_INIT_ERR,
     "The specified port identifier is not associated with an initialized communication port"),
    ROW(TKCOM_FLUSH_FAILED_ERR, "Flush operation failed"),
    ROW(TKCOM_GET_RXSIZE_ERR, "Cannot determine size of receive buffer"),
    ROW(TKCOM_DEVICE_NOT_FOUND_ERR, "The specified serial port cannot be located"),
    ROW(TKCOM_DTR_ERR, "Error controlling the DTR signal"),
    ROW(TKCOM_RTS_ERR, "Error controlling the RTS signal"),
    ROW(TKCOM_DSR_ERR, "Error determining the state of DSR"),
    ROW(TKCOM_CTS_ERR, "Error determining the state of CTS"),
    ROW(TKCOM_TXBREAK_ERR, "Error controlling a TX BREAK condition"),
    ROW(TKCOM_CONFIG_ERR,
     "Cannot configure communication port settings, make sure selected COM port is available.  "
     "Close any DOS windows that may be using this port."),

    // Network
    ROW(TKNET_WINSOCK_CLOSE_SOCKET_ERR, "Error closing Winsock socket"),
    ROW(TKNET_WINSOCK_CREATE_SOCKET_ERR, "Error creating Winsock socket"),
    ROW(TKNET_WINSOCK_BIND_SOCKET_ERR, "Error binding Winsock socket"),
    ROW(TKNET_WINSOCK_REGISTER_SOCKET_ERR,
     "Error registering Winsock socket (WSAEventSelect error)"),
    ROW(TKNET_WINSOCK_ENUM_EVENTS_ERR,
     "Error discovering network events (WSAEnumNetworkEvents error)"),
    ROW(TKNET_WINSOCK_CREATE_EVENT_ERR, "Error creating event object (WSACreateEvent error)"),
    ROW(TKNET_WINSOCK_WRITE_ERR, "Error writing network packet (sendto error)"),
    ROW(TKNET_READ_TIMEOUT_ERR, "Read network packet time out"),
    ROW(TKNET_WINSOCK_READ_ERR, "Read network packet time out"),
    ROW(TKNET_WINSOCK_WRONG_EVENT_ERR, "Read network packet error (wrong event signalled)"),
    ROW(TKNET_INCORRECT_PORT_IN_RSP_ERR, "Incorrect port in response packet"),
    ROW(TKNET_INCORRECT_IP_IN_RSP_ERR, "Incorrect IP address in response packet"),
    ROW(TKNET_INVALID_PORT_ERR, "Invalid IP address in command"),
    ROW(TKNET_SOCKET_NOT_OPEN_ERR, "Socket not open"),
    ROW(TKNET_WINSOCK_SETSOCKOPT_ERR, "Set socket option error (setsockopt)"),

    // Race timing
    ROW(TKRACE_THREAD_CREATE_ERR, "Error creating communications thread"),
    ROW(TKRACE_MUTEX_CREATE_ERR, "Error creating race DLL mutex"),
    ROW(TKRACE_MUTEX_TIMEOUT_ERR, "Mutex timeout in race DLL"),
    ROW(TKRACE_MUTEX_FAILED_ERR, "Mutex failed in race DLL"),
    ROW(TKRACE_WAIT_OBJECT_ERR, "Race communications thread - wait on event failed"),
    ROW(TKRACE_EVENT_OBJECT_CREATE_ERR, "Error creating race event object"),
    ROW(TKRACE_SET_EVENT_ERR, "Error signaling race event object"),
    ROW(TKRACE_RESET_EVENT_ERR, "Error resetting race event object"),
    ROW(TKRACE_NO_PC_TIMER_ERR, "High resolution timer not supported."),
    ROW(TKRACE_INVALID_KV4_TIMEBASE, "KV4 timebase invalid (0)."),
    ROW(TKRACE_INVALID_PC_TIMEBASE, "PC timebase invalid (0)."),
    ROW(TKRACE_KV4_SYNC_ERR, "KV4 time sync out of tolerance."),
    ROW(TKRACE_SYNC_ERROR_NO_KV4, "Unable to sync race time.  First KV4 is offline."),
    ROW(TKRACE_SYNC_ALL_DID_NOT_RESPOND,
     "Unable to sync race time.  Could not get at least one KV within tolerance on initial "
     "broadcast."),
    ROW(TKRACE_SYNC_ALL_OUT_OF_TOLERANCE,
     "Unable to sync race time.  None of the KVs are within tolerance."),
    ROW(TKRACE_SYNC_COULD_NOT_SYNC,
     "Unable to sync race time.  One or more KVs out of tolerance."),
    ROW(TKRACE_PARTICIPANT_LIST_SET_FAIL,
     "Unable to set race participant list on one or more KVs."),

    // Data-card readers. The file-open row stands twice; only the first is ever found.
    ROW(TKDATATAB_FILE_OPEN_ERROR,
     "Error opening DataTab Output file. Make sure file is not open in another application."),
    ROW(TKDATATAB_EXCEL_LAUNCH_ERROR, "Error opening file in Excel.  Unable to run Excel."),
    ROW(TKDATATAB_FILE_READ_ERROR, "Error opening binary file or cancel pressed."),
    ROW(TKDATATAB_FILE_VALIDATION_ERROR, "Not a valid DataTab file."),
    ROW(TKDATATAB_INVALID_PORT_ERR, "Invalid Card Reader port."),
    ROW(TKDATATAB_PORT_BUSY_ERR, "Card Reader port is busy."),
    ROW(TKDATATAB_SERIAL_OPEN_ERR, "Problem opening Card Reader port."),
    ROW(TKDATATAB_READER_NOT_RESPONDING_ERR, "Card reader is not responding."),
    ROW(TKDATATAB_INVALID_READER_ADDRESS, "Invalid card reader address."),
    ROW(TKDATATAB_FILE_OPEN_ERROR,
     "Error opening DataTab Output file. Make sure file is not open in another application."),
    ROW(TKDATATAB_CARD_NOT_INSERTED, "DataTab is not inserted."),
    ROW(TKDATATAB_PORT_NOT_OPEN, "Not communicating with Card Reader."),

    // SZ bootloader utility
    ROW(SZUTIL_SEND_ERR, "Could not send a B Record to the SZ"),
    ROW(SZUTIL_SYNC_ERR, "Cannot synchronize with SZ Bootloader and switch to high baud rate"),
    ROW(SZUTIL_BAUD_ERR, "Cannot change baud rate"),
    ROW(SZUTIL_PROGRAMMING_ERR, "Flash programming failed"),

    // Flash tool
    ROW(KV4FLASH_INVALID_CRC_START_ERR, "The start address for a CRC block is invalid"),
    ROW(KV4FLASH_INVALID_CRC_END_ERR, "The end address for a CRC block is invalid"),

    // Test generator; shadowed by the data-card row above, kept so the table stays complete
    ROW(TKTSTGEN_NO_UNUSED_FILE_ERR, "The Unused file could not be found."),

    // Terminator: ends every search, so code 0 is never found
    {0, nullptr, nullptr},
};

const error_table_entry *find_error(int16_t code) {
    for (const error_table_entry *row = error_table; row->code != 0; ++row) {
        if (row->code == code) {
            return row;
        }
    }
    return nullptr;
}

void bounded_copy(char *buffer, const char *text, uint16_t length) {
    if (buffer == nullptr) {
        return;
    }
    uint16_t i = 0;
    if (text != nullptr) {
        for (; i < length && text[i] != '\0'; ++i) {
            buffer[i] = text[i];
        }
    }
    for (; i < length; ++i) {
        buffer[i] = '\0';
    }
}

} // namespace kv4

extern "C" KV4USBCP_API void tkcmdsetUSB_get_error_name(int16_t code, char *buffer,
                                                        uint16_t length) {
    kv4::guarded([&] {
        const kv4::error_table_entry *row = kv4::find_error(code);
        kv4::bounded_copy(buffer, row != nullptr ? row->name : "Unknown Error", length);
    });
}

extern "C" KV4USBCP_API void tkcmdsetUSB_get_error_text(int16_t code, char *buffer,
                                                        uint16_t length) {
    kv4::guarded([&] {
        const kv4::error_table_entry *row = kv4::find_error(code);
        kv4::bounded_copy(buffer, row != nullptr ? row->text : "No further information.", length);
    });
}
