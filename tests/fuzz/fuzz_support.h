// What the fuzz targets check besides not crashing: host buffers between guard bytes, results the
// header names, and calls that end within their time-out.
#pragma once

#include "kv4usbcp.h"
#include "kv4usbcp_sim.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace kv4fuzz {

// Stops the run; libFuzzer keeps the input beside the message.
[[noreturn]] inline void broken(const char *promise)
{
    std::fprintf(stderr, "broken promise: %s\n", promise);
    std::abort();
}
inline void check(bool kept, const char *promise)
{
    if (!kept)
        broken(promise);
}

// A host buffer of n bytes between guard bytes, all of one pattern. A call may change only the
// bytes it documents; check_untouched finds a change anywhere else, guards included.
class guarded_buffer {
  public:
    explicit guarded_buffer(std::size_t n) : bytes_(n + 2 * guard, pattern) {}
    uint8_t *data() { return bytes_.data() + guard; }
    char *text() { return reinterpret_cast<char *>(data()); }
    template <class T> T *as() { return reinterpret_cast<T *>(data()); }
    void check_untouched(std::size_t writable, const char *call) const
    {
        for (std::size_t i = 0; i < bytes_.size(); ++i)
            if ((i < guard || i >= guard + writable) && bytes_[i] != pattern)
                broken(call);
    }

  private:
    static constexpr std::size_t guard = 64;
    static constexpr uint8_t pattern = 0xA5;
    std::vector<uint8_t> bytes_;
};

// A fresh simulated bus whose debug lines go nowhere: a run would spend its time printing them.
inline void quiet_bus()
{
    kv4sim_set_debug_sink([](void *, const char *) {}, nullptr);
    kv4sim_reset();
}

// 0, or a code with a row in the error table, or TKUSB_GET_STRING_ERR (the one named code without).
inline bool named_code(int16_t code)
{
    char name[40];
    tkcmdsetUSB_get_error_name(code, name, sizeof name);
    return code == 0 || code == TKUSB_GET_STRING_ERR || std::strcmp(name, "Unknown Error") != 0;
}

// Runs call() and checks that it returned within limit_ms, plus room for a loaded, sanitised run.
template <class Call> auto within(unsigned long limit_ms, const char *name, Call call)
{
    const auto start = std::chrono::steady_clock::now();
    const auto result = call();
    const auto took = std::chrono::steady_clock::now() - start;
    check(took <= std::chrono::milliseconds(limit_ms + 3000), name);
    return result;
}

} // namespace kv4fuzz
