#include "bare_exchange.h"

#include <cstring>

namespace kv4bench {

bare_exchange::bare_exchange(kv4sim_monitor *monitor, uint16_t transfer_length) : buffer_(transfer_length)
{
    uint32_t error = 0;
    handle_ = kv4::hid().open(kv4sim_path(monitor), kv4::hid_access::transfer, &error);
    transfer_.event = kv4::event_create();
}

bare_exchange::~bare_exchange()
{
    if (handle_)
        kv4::hid().close(handle_);
    kv4::event_close(transfer_.event);
}

bool bare_exchange::await(kv4::hid_io started)
{
    if (started == kv4::hid_io::completed)
        return true;
    return started == kv4::hid_io::pending && kv4::event_wait(transfer_.event, 1000) == 0 &&
           kv4::hid().outcome(&transfer_) == kv4::hid_io::completed;
}

bool bare_exchange::run(uint8_t output_id, const uint8_t *frame, uint16_t length, uint8_t *response,
                        uint16_t response_length)
{
    const auto size = static_cast<uint16_t>(buffer_.size());
    kv4::hid().flush_input(handle_);
    buffer_[0] = output_id;
    std::memcpy(buffer_.data() + 1, frame, length);
    if (!await(kv4::hid().start_write(handle_, buffer_.data(), size, &transfer_)))
        return false;
    if (!await(kv4::hid().start_read(handle_, buffer_.data(), size, &transfer_)))
        return false;
    std::memcpy(response, buffer_.data() + 1, response_length);
    return true;
}

} // namespace kv4bench
