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

namespace kv4 {

const error_table_entry error_table[error_table_rows + 1] = {
    // Timing
    {-10000, "TKTIME_NO_HIRES_ERR",
     "A high performance counter is not available in this hardware configuration."},
    {-10001, "TKTIME_ABORT_ERR", "The delay terminated prematurely due to a Windows quit message."},

    // USB port layer (-10112 is raised but deliberately has no row)
    {-10100, "TKUSB_INVALID_PORT_ERR", "An invalid port number was specified"},
    {-10101, "TKUSB_INVALID_DEVICE_NAME_ERR", "The USB device name is invalid"},
    {-10102, "TKUSB_WRITE_FAILED_ERR", "Could not send data to the USB device"},
    {-10103, "TKUSB_WRITE_INCOMPLETE_ERR", "The write operation did not complete"},
    {-10104, "TKUSB_WRITE_TIMEOUT_ERR",
     "The write operation did not complete within the timeout period"},
    {-10105, "TKUSB_READ_FAILED_ERR", "Could not read data from the USB device"},
    {-10106, "TKUSB_READ_INCOMPLETE_ERR", "The USB read operation did not complete"},
    {-10107, "TKUSB_READ_TIMEOUT_ERR",
     "The USB read operation did not complete within the timeout period"},
    {-10108, "TKUSB_DATA_NOT_AVAILABLE_ERR", "The required USB information is not available"},
    {-10109, "TKUSB_NO_PORT_INIT_ERR", "The USB port has not been initialized"},
    {-10110, "TKUSB_FLUSH_FAILED_ERR", "Cannot flush the data from the USB receive buffer"},
    {-10111, "TKUSB_SET_FEATURE_ERR", "Error sending a feature report to the USB device"},
    {-10113, "TKUSB_INVALID_ECODE_FILE_ERR", "Invalide Ecode file"},
    {-10114, "TKUSB_OS_UNSUPPORTED", "OS not supported"},
    {-10115, "TKUSB_SYSTEM_IO_ERR", "System I/O Error"},
    {-10116, "TKUSB_OPEN_DEVICE_ERR", "Open Device Error"},
    {-10117, "TKUSB_RELEASE_DEVICE_ERR", "Release Device Error"},
    {-10118, "TKUSB_SYSTEM_MEMORY_ERR", "System Memory Error"},
    {-10119, "TKUSB_IOREGISTRY_ERR", "I/O Registry Error"},
    {-10120, "TKUSB_TOOLONG_REPORT_ERR", "Report Too Long Error"},
    {-10121, "TKUSB_OVERFLOW_ERR", "Overflow Error"},
    {-10122, "TKUSB_GET_DESCRIPTOR_ERR", "Get Descriptor Error"},
    {-10123, "TKUSB_DEVICE_CLOSED_ERR", "Device Closed Error"},
    {-10124, "TKUSB_EVENT_REGISTER_ERR", "Event Register Error"},
    {-10125, "TKUSB_INVALID_PARAMETER", "Invalid USB Paremeter"},
    {-10126, "TKUSB_EVENT_TIMEOUT_ERR", "USB Timeout Error"},
    {-10127, "TKUSB_ASYNC_REGISTER_ERR", "Aysnc Register Error"},
    {-10128, "TKUSB_ASYNC_INPROGRESS_ERR", "Async Operation In Progress Error"},
    {-10129, "TKUSB_ASYNC_UNREGISTERED", "Async Unregistered Error"},
    {-10130, "TKUSB_UNSUPPORTED", "USB Unsupported"},

    // Device driver interface
    {-10150, "TKDDI_INVALID_PORT_ERR", "An invalid port number was specified"},
    {-10151, "TKDDI_NOT_IMPLEMENTED_ERR", "Feature not implemented"},
    {-10152, "TKDDI_UNIT_ADDRESS_ERR", "Unit address out of range"},
    {-10153, "TKDDI_PROTOCOL_INIT_ERR", "Protocol init failed. Null pointer passed."},
    {-10154, "TKDDI_PROTOCOL_NOT_DEFINED_ERR", "Protocol not initialized."},
    {-10155, "TKDDI_MEMORY_ALLOC_ERR", "TKDDI memory allocation error."},

    // CSAFE command layer (no rows for -10190 and -10191)
    {-10170, "TKCSAFE_KV4_CMD_CONFIG_ERR", "Error initializing KV4 command structures."},
    {-10171, "TKCSAFE_UNDEFINED_KV4_CMD_ERR",
     "KV4 command not defined in the INI file or too many command parameters."},
    {-10172, "TKCSAFE_UNDEFINED_DATA_TYPE_ERR", "Undefined data type in KV4CSAFE.INI file."},
    {-10173, "TKCSAFE_UNDEFINED_KV4_RSP_ERR", "KV4 response not defined in the INI file."},
    {-10174, "TKCSAFE_CMD_DATA_EXCEEDS_LIMIT", "CSAFE command data exceeds frame limit."},
    {-10175, "TKCSAFE_RSP_DATA_EXCEEDS_LIMIT", "CSAFE response data exceeded frame limit."},
    {-10176, "TKCSAFE_INCORRECT_CMD_PARAMS", "KV4 command has not enough parameters."},
    {-10177, "TKCSAFE_INCORRECT_RSP_PARAMS", "KV4 response had unexpected number of data bytes."},
    {-10178, "TKCSAFE_DATATAB_NOT_FOUND",
     "DataTab not found. Check to see that it is inserted properly."},
    {-10179, "TKCSAFE_DATATAB_INVALID_ADDRESS", "Invalid Data Tab address."},
    {-10180, "TKCSAFE_DATATAB_INVALID", "Invalid Data Tab type."},
    {-10181, "TKCSAFE_INI_FILE_CMD_TYPE_INVALID", "Invalid command type in initialization file."},
    {-10182, "TKCSAFE_INI_FILE_DATA_TYPE_INVALID", "Invalid data type in initialization file."},
    {-10183, "TKCSAFE_DATATAB_READ_ERROR", "DataTab read error."},
    {-10184, "TKCSAFE_CSAFE_FRAME_TOO_LONG_ERR", "CSAFE command frame too long."},
    {-10185, "TKCSAFE_INVALID_ADDRESS_IN_RSP_ERR", "CSAFE invalid address in response."},
    {-10186, "TKCSAFE_INVALID_ID_IN_RSP_ERR", "CSAFE invalid command ID in response."},
    {-10187, "TKCSAFE_NO_MEMORY_RETURNED", "KV4 returned no memory data."},
    {-10188, "TKCSAFE_AUTHENTICATION_FAILED", "KV4 authentication failed."},
    {-10189, "TKCSAFE_NULL_POINTER_TO_STRING_ERR", "CSAFE null pointer to string in command."},
    {-10192, "TKCSAFE_DATATAB_WRITE_ERROR", "DataTab write error."},

    // CSAFE framing; these small codes come back from the monitor
    {-160, "TKFRAME_CSAFE_FRAME_STUFF_ERR", "Error stuffing CSAFE frame"},
    {-161, "TKFRAME_CSAFE_FRAME_CHKSM_ERR", "CSAFE frame checksum error"},
    {-162, "TKFRAME_NO_SCI_FRAME_ERR", "A valid frame was not received on the SCI interface"},
    {-163, "TKFRAME_NO_USB_FRAME_ERR", "A valid frame was not received on the USB interface"},
    {-164, "TKFRAME_CSAFE_INVALID_SHORT_CMD_ERR", "An invalid CSAFE short command was received"},
    {-165, "TKFRAME_CSAFE_INVALID_LONG_CMD_ERR", "An invalid CSAFE long command was received"},
    {-166, "TKFRAME_CSAFE_NO_END_CHAR_ERR", "CSAFE frame missing end character"},

    // Command set
    {-10200, "TKCMDSET_NO_ECODE_FILE_ERR",
     "The Error Code Description File is not available, full error information will not be "
     "available."},
    {-10201, "TKCMDSET_DEVICE_NOT_FOUND_ERR",
     "A USB connection could not be established with the KV4."},
    {-10202, "TKCMDSET_MUTEX_TIMEOUT_ERR", "Communication in use by another process for too long"},
    {-10203, "TKCMDSET_MUTEX_FAILED_ERR", "Synchronization mechanism failure"},
    {-10204, "TKCMDSET_INVALID_RESPONSE_ERR", "An invalid response was returned by the device"},
    {-10205, "TKCMDSET_UNEXPECTED_RESPONSE_ERR",
     "The expected response was not returned by the device"},

    // S-record files
    {-10300, "TKSFILE_END_OF_FILE_ERR", "The end of the S Record file was found prematurely"},
    {-10301, "TKSFILE_FILE_READ_ERR", "Cannot read data in S Record file"},
    {-10302, "TKSFILE_INVALID_TYPE_ERR", "The S Record file is not a valid type"},
    {-10303, "TKSFILE_BAD_CHECKSUM_ERR", "The S Record checksum is incorrect"},
    {-10304, "TKSFILE_INVALID_LENGTH_ERR", "The S Record length is incorrect"},
    {-10305, "TKSFILE_INVALID_RECORD_ERR", "An invalid S Record type was found"},
    {-10306, "TKSFILE_INVALID_FILE_ERR", "The S Record file is invalid"},
    {-10307, "TKSFILE_FILE_NOT_FOUND_ERR", "The S Record file cannot be found"},
    {-10308, "TKSFILE_OUTSIDE_BUFFER_ERR",
     "The memory address specified in the S Record file is outside the range of the buffer"},

    // Cipher
    {-10400, "TKCIPHER_NOT_BLOCK_MULT_ERR",
     "The size of the block to decipher is not an even multiple of the minimum cipher block size"},

    // Registry
    {-10600, "TKREG_CANNOT_CREATE_KEY_ERR", "The specified registry key cannot be created"},
    {-10601, "TKREG_NO_OPEN_KEY_ERR", "No registry key is currently open"},
    {-10602, "TKREG_STRING_NOT_FOUND_ERR", "The specified string cannot be found in the registry"},
    {-10603, "TKREG_STRING_SAVE_ERR", "Unable to save the string to the registry"},

    // Serial ports
    {-10700, "TKCOM_INVALID_PORT_ERR", "The identifier for the port is invalid"},
    {-10701, "TKCOM_INVALID_DEVICE_NAME_ERR", "A device with the specified name cannot be located"},
    {-10702, "TKCOM_WRITE_FAILED_ERR", "Write operation failed"},
    {-10703, "TKCOM_WRITE_INCOMPLETE_ERR", "Write operation incomplete"},
    {-10704, "TKCOM_WRITE_TIMEOUT_ERR", "A timeout occurred during a write operation"},
    {-10705, "TKCOM_READ_FAILED_ERR", "Read operation failed"},
    {-10706, "TKCOM_READ_INCOMPLETE_ERR", "Read operation incomplete"},
    {-10707, "TKCOM_READ_TIMEOUT_ERR", "A timeout occurred during a read operation"},
    {-10708, "TKCOM_DATA_NOT_AVAILABLE_ERR", "No data available"},
    {-10709, "TKCOM_NO_PORT_INIT_ERR",
     "The specified port identifier is not associated with an initialized communication port"},
    {-10710, "TKCOM_FLUSH_FAILED_ERR", "Flush operation failed"},
    {-10711, "TKCOM_GET_RXSIZE_ERR", "Cannot determine size of receive buffer"},
    {-10712, "TKCOM_DEVICE_NOT_FOUND_ERR", "The specified serial port cannot be located"},
    {-10713, "TKCOM_DTR_ERR", "Error controlling the DTR signal"},
    {-10714, "TKCOM_RTS_ERR", "Error controlling the RTS signal"},
    {-10715, "TKCOM_DSR_ERR", "Error determining the state of DSR"},
    {-10716, "TKCOM_CTS_ERR", "Error determining the state of CTS"},
    {-10717, "TKCOM_TXBREAK_ERR", "Error controlling a TX BREAK condition"},
    {-10718, "TKCOM_CONFIG_ERR",
     "Cannot configure communication port settings, make sure selected COM port is available.  "
     "Close any DOS windows that may be using this port."},

    // Network
    {-10800, "TKNET_WINSOCK_CLOSE_SOCKET_ERR", "Error closing Winsock socket"},
    {-10801, "TKNET_WINSOCK_CREATE_SOCKET_ERR", "Error creating Winsock socket"},
    {-10802, "TKNET_WINSOCK_BIND_SOCKET_ERR", "Error binding Winsock socket"},
    {-10803, "TKNET_WINSOCK_REGISTER_SOCKET_ERR",
     "Error registering Winsock socket (WSAEventSelect error)"},
    {-10804, "TKNET_WINSOCK_ENUM_EVENTS_ERR",
     "Error discovering network events (WSAEnumNetworkEvents error)"},
    {-10805, "TKNET_WINSOCK_CREATE_EVENT_ERR", "Error creating event object (WSACreateEvent error)"},
    {-10806, "TKNET_WINSOCK_WRITE_ERR", "Error writing network packet (sendto error)"},
    {-10807, "TKNET_READ_TIMEOUT_ERR", "Read network packet time out"},
    {-10808, "TKNET_WINSOCK_READ_ERR", "Read network packet time out"},
    {-10809, "TKNET_WINSOCK_WRONG_EVENT_ERR", "Read network packet error (wrong event signalled)"},
    {-10810, "TKNET_INCORRECT_PORT_IN_RSP_ERR", "Incorrect port in response packet"},
    {-10811, "TKNET_INCORRECT_IP_IN_RSP_ERR", "Incorrect IP address in response packet"},
    {-10812, "TKNET_INVALID_PORT_ERR", "Invalid IP address in command"},
    {-10813, "TKNET_SOCKET_NOT_OPEN_ERR", "Socket not open"},
    {-10814, "TKNET_WINSOCK_SETSOCKOPT_ERR", "Set socket option error (setsockopt)"},

    // Race timing
    {-10900, "TKRACE_THREAD_CREATE_ERR", "Error creating communications thread"},
    {-10901, "TKRACE_MUTEX_CREATE_ERR", "Error creating race DLL mutex"},
    {-10902, "TKRACE_MUTEX_TIMEOUT_ERR", "Mutex timeout in race DLL"},
    {-10903, "TKRACE_MUTEX_FAILED_ERR", "Mutex failed in race DLL"},
    {-10904, "TKRACE_WAIT_OBJECT_ERR", "Race communications thread - wait on event failed"},
    {-10905, "TKRACE_EVENT_OBJECT_CREATE_ERR", "Error creating race event object"},
    {-10906, "TKRACE_SET_EVENT_ERR", "Error signaling race event object"},
    {-10907, "TKRACE_RESET_EVENT_ERR", "Error resetting race event object"},
    {-10908, "TKRACE_NO_PC_TIMER_ERR", "High resolution timer not supported."},
    {-10909, "TKRACE_INVALID_KV4_TIMEBASE", "KV4 timebase invalid (0)."},
    {-10910, "TKRACE_INVALID_PC_TIMEBASE", "PC timebase invalid (0)."},
    {-10911, "TKRACE_KV4_SYNC_ERR", "KV4 time sync out of tolerance."},
    {-10912, "TKRACE_SYNC_ERROR_NO_KV4", "Unable to sync race time.  First KV4 is offline."},
    {-10913, "TKRACE_SYNC_ALL_DID_NOT_RESPOND",
     "Unable to sync race time.  Could not get at least one KV within tolerance on initial "
     "broadcast."},
    {-10914, "TKRACE_SYNC_ALL_OUT_OF_TOLERANCE",
     "Unable to sync race time.  None of the KVs are within tolerance."},
    {-10915, "TKRACE_SYNC_COULD_NOT_SYNC",
     "Unable to sync race time.  One or more KVs out of tolerance."},
    {-10916, "TKRACE_PARTICIPANT_LIST_SET_FAIL",
     "Unable to set race participant list on one or more KVs."},

    // Data-card readers. The file-open row stands twice; only the first is ever found.
    {-11000, "TKDATATAB_FILE_OPEN_ERROR",
     "Error opening DataTab Output file. Make sure file is not open in another application."},
    {-11001, "TKDATATAB_EXCEL_LAUNCH_ERROR", "Error opening file in Excel.  Unable to run Excel."},
    {-11002, "TKDATATAB_FILE_READ_ERROR", "Error opening binary file or cancel pressed."},
    {-11003, "TKDATATAB_FILE_VALIDATION_ERROR", "Not a valid DataTab file."},
    {-11004, "TKDATATAB_INVALID_PORT_ERR", "Invalid Card Reader port."},
    {-11005, "TKDATATAB_PORT_BUSY_ERR", "Card Reader port is busy."},
    {-11006, "TKDATATAB_SERIAL_OPEN_ERR", "Problem opening Card Reader port."},
    {-11007, "TKDATATAB_READER_NOT_RESPONDING_ERR", "Card reader is not responding."},
    {-11008, "TKDATATAB_INVALID_READER_ADDRESS", "Invalid card reader address."},
    {-11000, "TKDATATAB_FILE_OPEN_ERROR",
     "Error opening DataTab Output file. Make sure file is not open in another application."},
    {-11009, "TKDATATAB_CARD_NOT_INSERTED", "DataTab is not inserted."},
    {-11010, "TKDATATAB_PORT_NOT_OPEN", "Not communicating with Card Reader."},

    // SZ bootloader utility
    {-20000, "SZUTIL_SEND_ERR", "Could not send a B Record to the SZ"},
    {-20001, "SZUTIL_SYNC_ERR", "Cannot synchronize with SZ Bootloader and switch to high baud rate"},
    {-20002, "SZUTIL_BAUD_ERR", "Cannot change baud rate"},
    {-20003, "SZUTIL_PROGRAMMING_ERR", "Flash programming failed"},

    // Flash tool
    {-20100, "KV4FLASH_INVALID_CRC_START_ERR", "The start address for a CRC block is invalid"},
    {-20101, "KV4FLASH_INVALID_CRC_END_ERR", "The end address for a CRC block is invalid"},

    // Test generator; shadowed by the data-card row above, kept so the table stays complete
    {-11000, "TKTSTGEN_NO_UNUSED_FILE_ERR", "The Unused file could not be found."},

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
    const kv4::error_table_entry *row = kv4::find_error(code);
    kv4::bounded_copy(buffer, row != nullptr ? row->name : "Unknown Error", length);
}

extern "C" KV4USBCP_API void tkcmdsetUSB_get_error_text(int16_t code, char *buffer,
                                                        uint16_t length) {
    const kv4::error_table_entry *row = kv4::find_error(code);
    kv4::bounded_copy(buffer, row != nullptr ? row->text : "No further information.", length);
}
