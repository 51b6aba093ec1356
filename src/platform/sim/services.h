// The HID device services over the simulated bus.
#pragma once

#include "platform/hid_services.h"

namespace kv4::sim {

class services final : public hid_services {
  public:
    void list_paths(void (*visit)(const char *path, void *context), void *context) override;
    bool check_present(const char *path) override;
    hid_handle open(const char *path, hid_access access, uint32_t *last_error) override;
    void close(hid_handle handle) override;
    uint32_t last_error(hid_handle handle) override;

    bool product_string(hid_handle handle, uint16_t *buffer, std::size_t capacity) override;
    bool serial_string(hid_handle handle, uint16_t *buffer, std::size_t capacity) override;
    bool indexed_string(hid_handle handle, unsigned index, uint16_t *buffer, std::size_t capacity) override;
    bool product_id(hid_handle handle, uint16_t *product_id) override;

    hid_preparsed get_preparsed(hid_handle handle) override;
    bool get_caps(hid_preparsed preparsed, hid_caps *caps) override;
    bool get_value_caps(hid_preparsed preparsed, hid_report_type type, hid_value_cap *caps, uint16_t *count) override;
    void free_preparsed(hid_preparsed preparsed) override;

    bool flush_input(hid_handle handle) override;
    bool set_feature(hid_handle handle, const uint8_t *buffer, uint16_t length) override;
    void cancel_transfer(hid_handle handle, hid_transfer *transfer) override;
    void cancel_io(hid_handle handle) override;

    bool watch_plug_events(bool watch) override;
    bool volume_name(const char *root, char *buffer, uint32_t capacity) override;
    bool volume_label(const char *root, char *buffer, uint32_t capacity) override;

  protected:
    hid_io platform_start_write(hid_handle handle, const uint8_t *buffer, uint16_t length,
                                hid_transfer *transfer) override;
    hid_io platform_start_read(hid_handle handle, uint8_t *buffer, uint16_t length, hid_transfer *transfer) override;
    hid_io platform_outcome(hid_transfer *transfer) override;
};

} // namespace kv4::sim
