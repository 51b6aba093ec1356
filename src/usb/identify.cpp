// Identification of a monitor by its product string, and registration by its serial number.
#include "usb/discovery.h"

#include "platform/hid_services.h"
#include "platform/platform.h"
#include "usb/registry.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace kv4 {

namespace {

constexpr std::size_t string_capacity = 125; // bytes offered to the device for one string

// A device that refuses a string leaves it empty; false then.
bool read_string(bool (hid_services::*fetch)(hid_handle, uint16_t *, std::size_t), hid_handle handle, char *text,
                 std::size_t capacity)
{
    uint16_t staging[128] = {}; // zeroed, so a string delivered without terminator ends anyway
    text[0] = '\0';
    if (!(hid().*fetch)(handle, staging, string_capacity))
        return false;
    utf16_to_ansi(staging, text, capacity);
    return true;
}

// Opens the device for probing; one retry after 100 ms when another handle holds it.
hid_handle open_for_probe(const char *path)
{
    uint32_t error = 0;
    hid_handle handle = hid().open(path, hid_access::probe, &error);
    if (handle || error != error_sharing_violation)
        return handle;
    sleep_ms(100);
    handle = hid().open(path, hid_access::probe, &error);
    if (!handle)
        debug_format("---->**Error INVALID_HANDLE_VALUE RETRY** =  %d", static_cast<int>(error));
    else
        debug_format("---->**INVALID_HANDLE_VALUE RETRY SUCCESS!** =  %d", static_cast<int>(error_sharing_violation));
    return handle;
}

struct identity {
    char serial[256];
    uint16_t product_id = 0xFFFF;
};

// Serial number (trimmed) and product ID of a probed device; false when it refused its serial.
bool read_identity(hid_handle handle, identity *id)
{
    char raw[256];
    const bool serial_read = read_string(&hid_services::serial_string, handle, raw, sizeof raw);
    std::strcpy(id->serial, trim_whitespace(raw));
    uint16_t product_id = 0;
    if (hid().product_id(handle, &product_id))
        id->product_id = product_id;
    return serial_read;
}

void copy_cut(char *destination, const char *source, std::size_t characters)
{
    const std::size_t length = std::min(std::strlen(source), characters);
    std::memcpy(destination, source, length);
    destination[length] = '\0';
}

} // namespace

char *trim_whitespace(char *text)
{
    if (!text || !*text)
        return text;
    char *end = text + std::strlen(text);
    while (end > text && std::isspace(static_cast<unsigned char>(end[-1])))
        --end;
    *end = '\0';
    while (std::isspace(static_cast<unsigned char>(*text)))
        ++text;
    return text;
}

win32_device *tkusb_platform_identify_device(const char *path, const char *filter)
{
    hid_handle handle = open_for_probe(path);
    if (!handle)
        return nullptr;
    char product[256];
    read_string(&hid_services::product_string, handle, product, sizeof product);
    if (!std::strstr(product, filter)) {
        debug_format("---->No match to device %s", product);
        hid().close(handle);
        return nullptr;
    }
    debug_line("---->String Match with Q5 Device");
    // A refused serial names no monitor: most likely this one is leaving (or busy) right now.
    // Registered under an empty serial, it would get a second port, whose open would then hold
    // it and keep its own port from ever opening again. The next discovery or arrival asks again.
    identity id;
    const bool identified = read_identity(handle, &id);
    hid().close(handle);
    if (!identified)
        return nullptr;

    if (win32_device *known = tkusb_platform_find_by_serial(id.serial))
        return known;
    auto *fresh = new (std::nothrow) win32_device;
    if (!fresh)
        return nullptr;
    std::strcpy(fresh->serial_key, id.serial);
    copy_cut(fresh->serial_number, id.serial, 9);
    copy_cut(fresh->product_name, product, 63);
    fresh->product_id = id.product_id;
    return tkusb_platform_register(fresh);
}

bool tkusb_platform_check_device(const char *path)
{
    const bool present = hid().check_present(path);
    uint32_t error = 0;
    if (hid_handle handle = hid().open(path, hid_access::probe, &error)) {
        identity id;
        const bool identified = read_identity(handle, &id);
        hid().close(handle);
        if (win32_device *known = identified ? tkusb_platform_find_by_serial(id.serial) : nullptr)
            known->product_id = id.product_id;
    }
    return present;
}

} // namespace kv4
