// Pending transfers of a handle: an intrusive list through the records' own state.
#include "platform/sim/handle.h"

#include <new>

namespace kv4::sim {

static_assert(sizeof(transfer_state) <= sizeof(hid_transfer::os), "transfer state too large");
static_assert(alignof(transfer_state) <= 8, "transfer state alignment");

transfer_state &start_state(hid_transfer *transfer) noexcept
{
    transfer_state &state = *new (transfer->os) transfer_state;
    state.outcome = hid_io::pending;
    return state;
}

transfer_state &state_of(hid_transfer *transfer) noexcept
{
    return *std::launder(reinterpret_cast<transfer_state *>(transfer->os));
}

void handle::add(hid_transfer *transfer) noexcept
{
    transfer_state &state = state_of(transfer);
    state.outcome = hid_io::pending;
    state.owned = true;
    state.next = pending;
    pending = transfer;
}

bool handle::remove(hid_transfer *transfer) noexcept
{
    for (hid_transfer **link = &pending; *link; link = &state_of(*link).next)
        if (*link == transfer) {
            *link = state_of(transfer).next;
            state_of(transfer).next = nullptr;
            return true;
        }
    return false;
}

void handle::finish(hid_transfer *transfer, hid_io outcome) noexcept
{
    remove(transfer);
    state_of(transfer).outcome = outcome;
    state_of(transfer).owned = false;
    event_set(transfer->event);
}

void handle::fail_all() noexcept
{
    while (pending)
        finish(pending, hid_io::failed);
}

} // namespace kv4::sim
