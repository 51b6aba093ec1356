// Tests of the result-code table and of the two exported functions that name a code.
//
// The expected rows below are a separate transcription of the table, on purpose: comparing two
// independent copies is what catches a dropped row, a swapped order or a "corrected" typo in a
// sentence that hosts compare byte for byte.
#include "api/error_table.h"

#include "kv4usbcp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct expected_row {
    int code;
    const char *name;
    const char *text;
};

const expected_row kRows[] = {
    {-10000, "TKTIME_NO_HIRES_ERR",
     "A high performance counter is not available in this hardware configuration."},
    {-10001, "TKTIME_ABORT_ERR", "The delay terminated prematurely due to a Windows quit message."},
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
    {-10150, "TKDDI_INVALID_PORT_ERR", "An invalid port number was specified"},
    {-10151, "TKDDI_NOT_IMPLEMENTED_ERR", "Feature not implemented"},
    {-10152, "TKDDI_UNIT_ADDRESS_ERR", "Unit address out of range"},
    {-10153, "TKDDI_PROTOCOL_INIT_ERR", "Protocol init failed. Null pointer passed."},
    {-10154, "TKDDI_PROTOCOL_NOT_DEFINED_ERR", "Protocol not initialized."},
    {-10155, "TKDDI_MEMORY_ALLOC_ERR", "TKDDI memory allocation error."},
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
    {-160, "TKFRAME_CSAFE_FRAME_STUFF_ERR", "Error stuffing CSAFE frame"},
    {-161, "TKFRAME_CSAFE_FRAME_CHKSM_ERR", "CSAFE frame checksum error"},
    {-162, "TKFRAME_NO_SCI_FRAME_ERR", "A valid frame was not received on the SCI interface"},
    {-163, "TKFRAME_NO_USB_FRAME_ERR", "A valid frame was not received on the USB interface"},
    {-164, "TKFRAME_CSAFE_INVALID_SHORT_CMD_ERR", "An invalid CSAFE short command was received"},
    {-165, "TKFRAME_CSAFE_INVALID_LONG_CMD_ERR", "An invalid CSAFE long command was received"},
    {-166, "TKFRAME_CSAFE_NO_END_CHAR_ERR", "CSAFE frame missing end character"},
    {-10200, "TKCMDSET_NO_ECODE_FILE_ERR",
     "The Error Code Description File is not available, full error information will "
     "not be available."},
    {-10201, "TKCMDSET_DEVICE_NOT_FOUND_ERR",
     "A USB connection could not be established with the KV4."},
    {-10202, "TKCMDSET_MUTEX_TIMEOUT_ERR", "Communication in use by another process for too long"},
    {-10203, "TKCMDSET_MUTEX_FAILED_ERR", "Synchronization mechanism failure"},
    {-10204, "TKCMDSET_INVALID_RESPONSE_ERR", "An invalid response was returned by the device"},
    {-10205, "TKCMDSET_UNEXPECTED_RESPONSE_ERR",
     "The expected response was not returned by the device"},
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
    {-10400, "TKCIPHER_NOT_BLOCK_MULT_ERR",
     "The size of the block to decipher is not an even multiple of the minimum cipher block size"},
    {-10600, "TKREG_CANNOT_CREATE_KEY_ERR", "The specified registry key cannot be created"},
    {-10601, "TKREG_NO_OPEN_KEY_ERR", "No registry key is currently open"},
    {-10602, "TKREG_STRING_NOT_FOUND_ERR", "The specified string cannot be found in the registry"},
    {-10603, "TKREG_STRING_SAVE_ERR", "Unable to save the string to the registry"},
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
     "Cannot configure communication port settings, make sure selected COM port is "
     "available.  Close any DOS windows that may be using this port."},
    {-10800, "TKNET_WINSOCK_CLOSE_SOCKET_ERR", "Error closing Winsock socket"},
    {-10801, "TKNET_WINSOCK_CREATE_SOCKET_ERR", "Error creating Winsock socket"},
    {-10802, "TKNET_WINSOCK_BIND_SOCKET_ERR", "Error binding Winsock socket"},
    {-10803, "TKNET_WINSOCK_REGISTER_SOCKET_ERR",
     "Error registering Winsock socket (WSAEventSelect error)"},
    {-10804, "TKNET_WINSOCK_ENUM_EVENTS_ERR",
     "Error discovering network events (WSAEnumNetworkEvents error)"},
    {-10805, "TKNET_WINSOCK_CREATE_EVENT_ERR",
     "Error creating event object (WSACreateEvent error)"},
    {-10806, "TKNET_WINSOCK_WRITE_ERR", "Error writing network packet (sendto error)"},
    {-10807, "TKNET_READ_TIMEOUT_ERR", "Read network packet time out"},
    {-10808, "TKNET_WINSOCK_READ_ERR", "Read network packet time out"},
    {-10809, "TKNET_WINSOCK_WRONG_EVENT_ERR", "Read network packet error (wrong event signalled)"},
    {-10810, "TKNET_INCORRECT_PORT_IN_RSP_ERR", "Incorrect port in response packet"},
    {-10811, "TKNET_INCORRECT_IP_IN_RSP_ERR", "Incorrect IP address in response packet"},
    {-10812, "TKNET_INVALID_PORT_ERR", "Invalid IP address in command"},
    {-10813, "TKNET_SOCKET_NOT_OPEN_ERR", "Socket not open"},
    {-10814, "TKNET_WINSOCK_SETSOCKOPT_ERR", "Set socket option error (setsockopt)"},
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
     "Unable to sync race time.  Could not get at least one KV within tolerance on "
     "initial broadcast."},
    {-10914, "TKRACE_SYNC_ALL_OUT_OF_TOLERANCE",
     "Unable to sync race time.  None of the KVs are within tolerance."},
    {-10915, "TKRACE_SYNC_COULD_NOT_SYNC",
     "Unable to sync race time.  One or more KVs out of tolerance."},
    {-10916, "TKRACE_PARTICIPANT_LIST_SET_FAIL",
     "Unable to set race participant list on one or more KVs."},
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
    {-20000, "SZUTIL_SEND_ERR", "Could not send a B Record to the SZ"},
    {-20001, "SZUTIL_SYNC_ERR",
     "Cannot synchronize with SZ Bootloader and switch to high baud rate"},
    {-20002, "SZUTIL_BAUD_ERR", "Cannot change baud rate"},
    {-20003, "SZUTIL_PROGRAMMING_ERR", "Flash programming failed"},
    {-20100, "KV4FLASH_INVALID_CRC_START_ERR", "The start address for a CRC block is invalid"},
    {-20101, "KV4FLASH_INVALID_CRC_END_ERR", "The end address for a CRC block is invalid"},
    {-11000, "TKTSTGEN_NO_UNUSED_FILE_ERR", "The Unused file could not be found."},};
constexpr int kRowCount = sizeof(kRows) / sizeof(kRows[0]);

// Index of the first expected row carrying code: the one a lookup must find.
int first_index_of(int code) {
    for (int i = 0; i < kRowCount; ++i) {
        if (kRows[i].code == code) return i;
    }
    return -1;
}

std::string name_of(int16_t code, uint16_t length = 36) {
    std::vector<char> buf(length, '\x7f');
    tkcmdsetUSB_get_error_name(code, buf.data(), length);
    return std::string(buf.data(), strnlen(buf.data(), length));
}

std::string text_of(int16_t code, uint16_t length = 140) {
    std::vector<char> buf(length, '\x7f');
    tkcmdsetUSB_get_error_text(code, buf.data(), length);
    return std::string(buf.data(), strnlen(buf.data(), length));
}

TEST(ErrorTable, RowsMatchTranscriptionInOrderThenTerminator) {
    ASSERT_EQ(kRowCount, 156);
    ASSERT_EQ(kv4::error_table_rows, 156);
    for (int i = 0; i < kRowCount; ++i) {
        SCOPED_TRACE("position " + std::to_string(i + 1));
        EXPECT_EQ(kv4::error_table[i].code, kRows[i].code);
        ASSERT_NE(kv4::error_table[i].name, nullptr);
        ASSERT_NE(kv4::error_table[i].text, nullptr);
        EXPECT_STREQ(kv4::error_table[i].name, kRows[i].name);
        EXPECT_STREQ(kv4::error_table[i].text, kRows[i].text);
    }
    EXPECT_EQ(kv4::error_table[156].code, 0);
    EXPECT_EQ(kv4::error_table[156].name, nullptr);
    EXPECT_EQ(kv4::error_table[156].text, nullptr);
}

TEST(ErrorTable, EveryCodeResolvesToItsFirstRowDirectlyAndThroughExports) {
    for (int i = 0; i < kRowCount; ++i) {
        const int16_t code = static_cast<int16_t>(kRows[i].code);
        const expected_row &want = kRows[first_index_of(code)];
        SCOPED_TRACE(std::to_string(code));
        const kv4::error_table_entry *row = kv4::find_error(code);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row - kv4::error_table, first_index_of(code));
        EXPECT_EQ(name_of(code), want.name);
        EXPECT_EQ(text_of(code), want.text);
    }
}

TEST(ErrorTable, DuplicatedCodesAndSharedSentences) {
    // -11000 stands at positions 138, 147 and 156; only the first is reachable.
    EXPECT_EQ(kv4::find_error(-11000), &kv4::error_table[137]);
    EXPECT_EQ(name_of(-11000), "TKDATATAB_FILE_OPEN_ERROR");
    EXPECT_STREQ(kv4::error_table[146].name, "TKDATATAB_FILE_OPEN_ERROR");
    EXPECT_STREQ(kv4::error_table[155].name, "TKTSTGEN_NO_UNUSED_FILE_ERR");
    EXPECT_EQ(name_of(-10150), "TKDDI_INVALID_PORT_ERR");
    EXPECT_EQ(text_of(-10150), text_of(-10100));
    EXPECT_EQ(text_of(-10807), text_of(-10808));
    EXPECT_NE(name_of(-10807), name_of(-10808));
    // A code the monitor reports as two bytes is read as signed 16-bit: 0xD88C is -10100.
    EXPECT_EQ(name_of(static_cast<int16_t>(0xD88C)), "TKUSB_INVALID_PORT_ERR");
}

TEST(ErrorTable, FamiliesAreContiguousInOrder) {
    struct family {
        const char *prefix;
        int rows;
    };
    const family families[] = {{"TKTIME_", 2},   {"TKUSB_", 30},     {"TKDDI_", 6},  {"TKCSAFE_", 21},
                               {"TKFRAME_", 7},  {"TKCMDSET_", 6},   {"TKSFILE_", 9}, {"TKCIPHER_", 1},
                               {"TKREG_", 4},    {"TKCOM_", 19},     {"TKNET_", 15}, {"TKRACE_", 17},
                               {"TKDATATAB_", 12}, {"SZUTIL_", 4},   {"KV4FLASH_", 2}, {"TKTSTGEN_", 1}};
    int pos = 0;
    for (const family &f : families) {
        for (int n = 0; n < f.rows; ++n, ++pos) {
            ASSERT_LT(pos, 156);
            EXPECT_EQ(std::strncmp(kv4::error_table[pos].name, f.prefix, std::strlen(f.prefix)), 0)
                << "position " << pos + 1 << " is " << kv4::error_table[pos].name;
        }
    }
    EXPECT_EQ(pos, 156);
    EXPECT_EQ(kv4::error_table[pos].code, 0);
}

TEST(ErrorTable, UnknownCodesGetPlaceholders) {
    // 0 only matches the terminator, -10112 is raised but has no row, 5 is a monitor's own code.
    for (int16_t code : {int16_t{0}, int16_t{-10112}, int16_t{5}, int16_t{-1}, int16_t{32767}}) {
        SCOPED_TRACE(std::to_string(code));
        EXPECT_EQ(kv4::find_error(code), nullptr);
        EXPECT_EQ(name_of(code), "Unknown Error");
        EXPECT_EQ(text_of(code), "No further information.");
    }
}

TEST(ErrorTable, DocumentedBuffersAlwaysHoldATerminatedString) {
    size_t longest_name = 0, longest_text = 0;
    for (int i = 0; i < kRowCount; ++i) {
        longest_name = std::max(longest_name, std::strlen(kv4::error_table[i].name));
        longest_text = std::max(longest_text, std::strlen(kv4::error_table[i].text));
    }
    EXPECT_EQ(longest_name, 35u);
    EXPECT_EQ(longest_text, 139u);
    for (int i = 0; i < kRowCount; ++i) {
        char name[36], text[140];
        std::memset(name, 0x7f, sizeof name);
        std::memset(text, 0x7f, sizeof text);
        tkcmdsetUSB_get_error_name(static_cast<int16_t>(kRows[i].code), name, sizeof name);
        tkcmdsetUSB_get_error_text(static_cast<int16_t>(kRows[i].code), text, sizeof text);
        EXPECT_EQ(name[sizeof name - 1], '\0') << kRows[i].name;
        EXPECT_EQ(text[sizeof text - 1], '\0') << kRows[i].name;
    }
}

TEST(ErrorTable, BoundedCopyEdges) {
    // Exact fit: all 22 characters, no terminator, nothing beyond.
    char buf[32];
    std::memset(buf, 0x7f, sizeof buf);
    tkcmdsetUSB_get_error_name(-10100, buf, 22);
    EXPECT_EQ(std::string(buf, 22), "TKUSB_INVALID_PORT_ERR");
    EXPECT_EQ(buf[22], '\x7f');
    // One more byte: terminated, still nothing beyond.
    std::memset(buf, 0x7f, sizeof buf);
    tkcmdsetUSB_get_error_name(-10100, buf, 23);
    EXPECT_STREQ(buf, "TKUSB_INVALID_PORT_ERR");
    EXPECT_EQ(buf[23], '\x7f');
    // Truncation keeps the first length characters, placeholders included.
    std::memset(buf, 0x7f, sizeof buf);
    tkcmdsetUSB_get_error_name(0, buf, 7);
    EXPECT_EQ(std::string(buf, 7), "Unknown");
    EXPECT_EQ(buf[7], '\x7f');

    // Zero fill to exactly length bytes.
    char wide[120];
    std::memset(wide, 0x7f, sizeof wide);
    tkcmdsetUSB_get_error_text(-10109, wide, 100);
    const size_t len = std::strlen("The USB port has not been initialized");
    EXPECT_STREQ(wide, "The USB port has not been initialized");
    for (size_t i = len; i < 100; ++i) EXPECT_EQ(wide[i], '\0') << "byte " << i;
    for (size_t i = 100; i < sizeof wide; ++i) EXPECT_EQ(wide[i], '\x7f') << "byte " << i;

    // Length 0 and null buffers write nothing and do not crash.
    std::memset(buf, 0x7f, sizeof buf);
    tkcmdsetUSB_get_error_name(-10100, buf, 0);
    tkcmdsetUSB_get_error_text(-10100, buf, 0);
    kv4::bounded_copy(buf, "abc", 0);
    for (char c : buf) EXPECT_EQ(c, '\x7f');
    tkcmdsetUSB_get_error_name(-10100, nullptr, 36);
    tkcmdsetUSB_get_error_text(12345, nullptr, 140);
    kv4::bounded_copy(nullptr, "abc", 10);
}

} // namespace
