// Events that a file descriptor completes. A hidraw transfer ends when its node becomes readable;
// the backend attaches the node to the transfer's event, and whichever thread waits for that event
// polls the node beside its other events and does the read itself when it is ready. So a
// transaction's own thread takes its answer off the node, with no thread in between, and nothing
// polls in a loop.
#pragma once

#include "platform/platform.h"

namespace kv4 {

struct event_source {
    int fd = -1;
    // Called with the events' lock held, so it must not block nor touch events: by a waiter that
    // saw fd readable or in error (cancelled false), or by a cancel (cancelled true). True when
    // the transfer has ended: the source is then detached and the event set. The backend's own
    // state may be changed here; the lock orders it against the cancels.
    bool (*ready)(event_source &source, bool cancelled) = nullptr;

    // The events' bookkeeping, while attached.
    event_handle event = nullptr;
    event_source *next = nullptr;
};

// Resets event and attaches source to it; waiters for the event start polling fd. An event has one
// source at a time, and a source one event.
void event_attach(event_handle event, event_source &source) noexcept;
// Ends the source through ready(source, true) if it is still attached.
void event_cancel(event_source &source) noexcept;
// The same for every source attached with fd.
void event_cancel_fd(int fd) noexcept;

} // namespace kv4
