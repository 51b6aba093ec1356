// Counts heap allocations (operator new and malloc) made by this program.
#pragma once

#include <cstdint>

namespace kv4bench {
uint64_t allocations() noexcept;
}
