// Windows version classes; the library's version gate refuses some of them.
#include "platform/platform.h"

namespace kv4 {

uint16_t classify_windows_version(uint32_t platform_id, uint32_t major, uint32_t minor, char mark) noexcept
{
    if (platform_id == 1) { // the Windows 9x family
        if (major != 4)
            return 0x0100;
        switch (minor) {
        case 0: return (mark == 'B' || mark == 'C') ? 0x0108 : 0x0101;
        case 10: return mark == 'A' ? 0x0104 : 0x0103;
        case 90: return 0x0105;
        default: return 0x0100;
        }
    }
    if (platform_id == 2) // the NT family
        return (major == 5 && minor == 0) ? 0x0107 : 0x0108;
    return 0x0100;
}

} // namespace kv4
