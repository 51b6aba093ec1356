// Tests of the result-code table and of the two exported functions that name a code.
#include "api/error_table.h"

#include "kv4usbcp.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// FNV-1a over every row in order: the code (two bytes, high first), then the identifier and the
// sentence, each with its terminator.
uint32_t table_digest()
{
    uint32_t hash = 0x811C9DC5u;
    auto feed = [&hash](const void *bytes, std::size_t length) {
        for (std::size_t i = 0; i < length; ++i) {
            hash ^= static_cast<const uint8_t *>(bytes)[i];
            hash *= 0x01000193u;
        }
    };
    for (int i = 0; i < kv4::error_table_rows; ++i) {
        const kv4::error_table_entry &row = kv4::error_table[i];
        const uint8_t code[2] = {static_cast<uint8_t>(static_cast<uint16_t>(row.code) >> 8),
                                 static_cast<uint8_t>(row.code)};
        feed(code, sizeof code);
        feed(row.name, std::strlen(row.name) + 1);
        feed(row.text, std::strlen(row.text) + 1);
    }
    return hash;
}

// What an exported lookup writes into a buffer of size bytes, or a marker when the buffer's last
// byte is no terminator.
using lookup = void (*)(int16_t, char *, uint16_t);
std::string looked_up(lookup get, int16_t code, uint16_t size)
{
    std::vector<char> buffer(size, '\x7f');
    get(code, buffer.data(), size);
    return buffer.back() == '\0' ? std::string(buffer.data()) : "<unterminated>";
}

TEST(ErrorTable, RowsAreTheDocumentedOnesInOrderThenTheTerminator)
{
    ASSERT_EQ(kv4::error_table_rows, 156);
    // Computed once from the documented table: a changed character, a lost row or a new order
    // (hosts compare these strings byte for byte) changes it; a row without texts crashes it.
    EXPECT_EQ(table_digest(), 0x860CB211u);
    EXPECT_EQ(kv4::error_table[156].code, 0);
    EXPECT_EQ(kv4::error_table[156].name, nullptr);
    EXPECT_EQ(kv4::error_table[156].text, nullptr);
}

// Through the exports, in the buffer sizes the header promises suffice (36 and 140 bytes).
TEST(ErrorTable, EveryCodeResolvesToItsFirstRowAndUnknownCodesToPlaceholders)
{
    for (int i = 0; i < kv4::error_table_rows; ++i) {
        const int16_t code = kv4::error_table[i].code;
        // -11000 stands at positions 138, 147 and 156; only the first is reachable.
        const kv4::error_table_entry *first = code == -11000 ? &kv4::error_table[137] : &kv4::error_table[i];
        SCOPED_TRACE(kv4::error_table[i].name);
        EXPECT_EQ(kv4::find_error(code), first);
        EXPECT_EQ(looked_up(tkcmdsetUSB_get_error_name, code, 36), first->name);
        EXPECT_EQ(looked_up(tkcmdsetUSB_get_error_text, code, 140), first->text);
    }
    // 0 only matches the terminator, -10112 is raised but has no row, 5 is a monitor's own code.
    for (int16_t code : {int16_t{0}, int16_t{-10112}, int16_t{5}, int16_t{-1}, int16_t{32767}}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(kv4::find_error(code), nullptr);
        EXPECT_EQ(looked_up(tkcmdsetUSB_get_error_name, code, 36), "Unknown Error");
        EXPECT_EQ(looked_up(tkcmdsetUSB_get_error_text, code, 140), "No further information.");
    }
}

// What a lookup leaves in a buffer of size bytes filled with 0x7F when given length bytes.
std::string buffer_after(lookup get, int16_t code, uint16_t length, std::size_t size = 32)
{
    std::string buffer(size, '\x7f');
    get(code, buffer.data(), length);
    return buffer;
}

// Bytes up to length are written, zero-filled after the text, never terminated past it; nothing
// beyond length is touched.
TEST(ErrorTable, BoundedCopyEdges)
{
    const std::string name = "TKUSB_INVALID_PORT_ERR", text = "The USB port has not been initialized";
    EXPECT_EQ(buffer_after(tkcmdsetUSB_get_error_name, -10100, 22), name + std::string(10, '\x7f'));
    EXPECT_EQ(buffer_after(tkcmdsetUSB_get_error_name, -10100, 23), name + '\0' + std::string(9, '\x7f'));
    EXPECT_EQ(buffer_after(tkcmdsetUSB_get_error_name, 0, 7), "Unknown" + std::string(25, '\x7f'));
    EXPECT_EQ(buffer_after(tkcmdsetUSB_get_error_text, -10109, 100, 120),
              text + std::string(100 - text.size(), '\0') + std::string(20, '\x7f'));
    EXPECT_EQ(buffer_after(tkcmdsetUSB_get_error_name, -10100, 0), std::string(32, '\x7f'));
    EXPECT_EQ(buffer_after(tkcmdsetUSB_get_error_text, -10100, 0), std::string(32, '\x7f'));
    // Null buffers write nothing and do not crash.
    tkcmdsetUSB_get_error_name(-10100, nullptr, 36);
    tkcmdsetUSB_get_error_text(12345, nullptr, 140);
}

} // namespace
