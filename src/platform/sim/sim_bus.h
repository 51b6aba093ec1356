// What the simulated bus tells the rest of the process beside its HID services: volume labels,
// and figures for tests and benchmarks.
#pragma once

#include <cstddef>
#include <chrono>
#include <cstdint>

namespace kv4::sim {

// The label announced for a drive (0 is A:) into buffer, terminated; false when no volume is
// present there or the label does not fit.
bool volume_label(unsigned drive, char *buffer, std::size_t capacity) noexcept;
// Whether a volume announced for the drive is present.
bool volume_present(unsigned drive) noexcept;

// When a read last ended with an answer that arrived after the read began: the moment the
// answer became the host's, for measuring what the host's side takes from there.
std::chrono::steady_clock::time_point last_late_answer() noexcept;

// How often a transfer was started on a record whose transfer was still pending, since the
// process began. Tests expect it not to move.
unsigned record_reuses() noexcept;

} // namespace kv4::sim
