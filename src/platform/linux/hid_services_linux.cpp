// HID services of the Linux production library. The hidraw backend is not written yet: until it
// is, this bus lists no devices and every open fails, so the library runs but finds no monitor.
#include "platform/hid_services.h"

namespace kv4 {

namespace {

class no_hid_services final : public hid_services {
public:
    bool list_paths(void (*)(const char *, void *), void *) override { return true; }
    bool check_present(const char *) override { return false; }
    hid_handle open(const char *, hid_access, uint32_t *last_error) override
    {
        if (last_error)
            *last_error = 2; // not found
        return nullptr;
    }
    void close(hid_handle) override {}
    uint32_t last_error(hid_handle) override { return 0; }
    bool product_string(hid_handle, uint16_t *, std::size_t) override { return false; }
    bool serial_string(hid_handle, uint16_t *, std::size_t) override { return false; }
    bool indexed_string(hid_handle, unsigned, uint16_t *, std::size_t) override { return false; }
    bool product_id(hid_handle, uint16_t *) override { return false; }
    hid_preparsed get_preparsed(hid_handle) override { return nullptr; }
    bool get_caps(hid_preparsed, hid_caps *) override { return false; }
    bool get_value_caps(hid_preparsed, hid_report_type, hid_value_cap *, uint16_t *) override { return false; }
    void free_preparsed(hid_preparsed) override {}
    bool flush_input(hid_handle) override { return false; }
    bool set_feature(hid_handle, const uint8_t *, uint16_t) override { return false; }
    hid_io start_write(hid_handle, const uint8_t *, uint16_t, hid_transfer *) override { return hid_io::failed; }
    hid_io start_read(hid_handle, uint8_t *, uint16_t, hid_transfer *) override { return hid_io::failed; }
    hid_io outcome(hid_transfer *) override { return hid_io::completed; }
    void cancel_transfer(hid_handle, hid_transfer *) override {}
    void cancel_io(hid_handle) override {}
    bool volume_name(const char *, char *, uint32_t) override { return false; }
    bool volume_label(const char *, char *, uint32_t) override { return false; }
};

} // namespace

hid_services &os_hid_services() noexcept
{
    static no_hid_services services;
    return services;
}

} // namespace kv4
