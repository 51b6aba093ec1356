// UTF-8 to UTF-16, and UTF-16 into the core's string buffers.
#include "platform/text.h"

#include <algorithm>

namespace kv4 {

std::u16string utf8_to_utf16(const char *text)
{
    std::u16string out;
    const auto *p = reinterpret_cast<const unsigned char *>(text);
    while (*p) {
        const int extra = *p < 0x80 ? 0 : (*p >> 5) == 6 ? 1 : (*p >> 4) == 14 ? 2 : (*p >> 3) == 30 ? 3 : -1;
        uint32_t code = extra == 0 ? *p : extra > 0 ? *p & (0x3Fu >> extra) : 0xFFFD;
        ++p;
        for (int i = 0; i < extra; ++i, ++p) {
            if ((*p & 0xC0) != 0x80) {
                code = 0xFFFD;
                break;
            }
            code = code << 6 | (*p & 0x3F);
        }
        if (code > 0x10FFFF)
            code = 0xFFFD;
        if (code >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
            code = 0xDC00 + (code & 0x3FF);
        }
        out += static_cast<char16_t>(code);
    }
    return out;
}

bool copy_utf16(const std::u16string &text, uint16_t *buffer, std::size_t capacity) noexcept
{
    if (!buffer || capacity < 2)
        return false;
    const std::size_t n = std::min(text.size(), capacity / 2 - 1);
    for (std::size_t i = 0; i < n; ++i)
        buffer[i] = text[i];
    buffer[n] = 0;
    return true;
}

} // namespace kv4
