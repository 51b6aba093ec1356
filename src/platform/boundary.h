// The C boundary. An exported function's caller is C, or C++ of another compiler and runtime: an
// exception cannot unwind through it, so none may leave. Each export runs its body in guarded().
#pragma once

#include "kv4usbcp.h"

#include <cstdint>
#include <new>
#include <type_traits>

namespace kv4 {

// What an export whose body threw answers: a result code (16-bit, or int in the simulator's
// interface), else nothing, a null pointer or a count of 0.
template <typename Result> Result failure_answer(int16_t code) noexcept
{
    if constexpr (std::is_same_v<Result, int16_t> || std::is_same_v<Result, int>)
        return static_cast<Result>(code);
    else if constexpr (!std::is_void_v<Result>)
        return Result{};
}

// body(); should it throw, TKUSB_SYSTEM_MEMORY_ERR when memory ran out and TKUSB_SYSTEM_IO_ERR
// for any other failure inside the library.
template <typename Body> auto guarded(Body &&body) noexcept -> decltype(body())
{
    using result = decltype(body());
    try {
        return body();
    } catch (const std::bad_alloc &) {
        return failure_answer<result>(TKUSB_SYSTEM_MEMORY_ERR);
    } catch (...) {
        return failure_answer<result>(TKUSB_SYSTEM_IO_ERR);
    }
}

} // namespace kv4
