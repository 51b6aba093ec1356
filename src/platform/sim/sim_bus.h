// The simulated bus's plug events, for the device-change source that turns them into the same
// broadcasts the operating system sends.
#pragma once

#include <cstddef>
#include <chrono>
#include <cstdint>

namespace kv4::sim {

// Receives every monitor arrival and removal (its device path) and every volume announcement.
// Calls come in the order of the changes, one at a time, on the thread that made the change and
// with no bus lock held; a listener should only queue what it is told.
struct plug_listener {
    void (*device_changed)(const char *path, bool arrived, void *context) = nullptr;
    void (*volume_changed)(uint32_t unitmask, bool arrived, uint16_t flags, void *context) = nullptr;
    void *context = nullptr;
};

// Installs a copy of the listener; null restores the default, which hands every change to the
// device-change source as the broadcast the system sends.
void set_plug_listener(const plug_listener *listener) noexcept;

// The label announced for a drive (0 is A:) into buffer, terminated; false when no volume is
// present there or the label does not fit.
bool volume_label(unsigned drive, char *buffer, std::size_t capacity) noexcept;
bool volume_present(unsigned drive) noexcept;

// When a read last ended with an answer that arrived after the read began: the moment the
// answer became the host's, for measuring what the host's side takes from there.
std::chrono::steady_clock::time_point last_late_answer() noexcept;

// How often a transfer was started on a record whose transfer was still pending, since the
// process began. Tests expect it not to move.
unsigned record_reuses() noexcept;

} // namespace kv4::sim
