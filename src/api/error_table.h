/*
 * error_table.h - the library's table of result codes, and the lookup and bounded copy that turn a
 * code into its identifier or sentence.
 */
#ifndef KV4USBCP_API_ERROR_TABLE_H
#define KV4USBCP_API_ERROR_TABLE_H

#include <cstdint>

namespace kv4 {

// One row: a result code, its identifier and its English sentence.
struct error_table_entry {
    int16_t code;
    const char *name;
    const char *text;
};

// Number of real rows; the array holds one more, the terminator {0, nullptr, nullptr}.
constexpr int error_table_rows = 156;

// Rows grouped by family in a fixed, unsorted order. The order matters: some codes occur more than
// once (-11000 three times) and a lookup takes the first match. The terminator ends every search.
extern const error_table_entry error_table[error_table_rows + 1];

// First row whose code equals code, or nullptr when none does. The terminator is never compared,
// so code 0 is never found.
const error_table_entry *find_error(int16_t code);

// strncpy-like copy: writes at most length bytes. A shorter text is zero-filled up to exactly
// length bytes; a text of length characters or more is cut to its first length characters and
// left unterminated. A null buffer or a length of 0 writes nothing. A null text counts as empty.
void bounded_copy(char *buffer, const char *text, uint16_t length);

} // namespace kv4

#endif // KV4USBCP_API_ERROR_TABLE_H
