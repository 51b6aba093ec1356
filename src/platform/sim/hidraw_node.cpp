// Reads ended by a waiter: a socket per handle stands for the hidraw node.
#include "platform/sim/hidraw_node.h"

#if defined(_WIN32)

namespace kv4::sim {

// Windows events have no descriptor sources; the rule cannot be set there, so no node is made.
struct hidraw_node {};
bool nodes_available() noexcept { return false; }
hidraw_node *open_node(std::size_t) noexcept { return nullptr; }
void close_node(hidraw_node *) noexcept {}
void unplug_node(hidraw_node &) noexcept {}
hid_io start_node_read(hidraw_node &, uint8_t *, uint16_t, hid_transfer *) noexcept { return hid_io::failed; }
void cancel_node_read(hidraw_node &, hid_transfer *) noexcept {}
void cancel_node_reads(hidraw_node &) noexcept {}
void fill_node(hidraw_node &, input_queue &, time_point) noexcept {}
void drain_node(hidraw_node &) noexcept {}

} // namespace kv4::sim

#else

#include "platform/linux/event_source.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <new>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace kv4::sim {

struct hidraw_node {
    event_source source;             // first: ready() finds the node from it; fd is the reader's end
    int sender = -1;                 // the monitor's end
    std::atomic<bool> busy{false};   // a read is under way
    hid_transfer *reading = nullptr; // the read last started (compared, never followed, once ended)
    uint8_t *buffer = nullptr;
    uint16_t length = 0;
    std::vector<uint8_t> report;
};

namespace {

// Called by a waiter that saw the socket readable, or by a cancel, with the events' lock held.
bool read_ready(event_source &source, bool cancelled)
{
    auto &node = reinterpret_cast<hidraw_node &>(source);
    hid_io outcome = hid_io::failed;
    if (!cancelled) {
        const ssize_t n = recv(source.fd, node.buffer, node.length, MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return false;
        if (n > 0) {
            std::memset(node.buffer + n, 0, node.length - static_cast<std::size_t>(n));
            outcome = hid_io::completed;
        } // 0: the monitor left
    }
    state_of(node.reading).outcome = outcome;
    state_of(node.reading).owned = false;
    node.busy = false;
    return true;
}

} // namespace

bool nodes_available() noexcept { return true; }

hidraw_node *open_node(std::size_t report_bytes) noexcept
{
    auto *node = new (std::nothrow) hidraw_node;
    int ends[2];
    if (!node || socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) != 0) {
        delete node;
        return nullptr;
    }
    node->source.fd = ends[0];
    node->source.ready = read_ready;
    node->sender = ends[1];
    try {
        node->report.resize(report_bytes ? report_bytes : 1);
    } catch (const std::bad_alloc &) {
        close_node(node);
        return nullptr;
    }
    return node;
}

void close_node(hidraw_node *node) noexcept
{
    if (!node)
        return;
    cancel_node_reads(*node);
    close(node->source.fd);
    close(node->sender);
    delete node;
}

void unplug_node(hidraw_node &node) noexcept { shutdown(node.sender, SHUT_WR); }

hid_io start_node_read(hidraw_node &node, uint8_t *buffer, uint16_t length, hid_transfer *transfer) noexcept
{
    if (node.busy.exchange(true)) // one read at a time, as the core makes them
        return hid_io::failed;
    node.reading = transfer;
    node.buffer = buffer;
    node.length = length;
    state_of(transfer).outcome = hid_io::pending;
    state_of(transfer).owned = true;
    event_attach(transfer->event, node.source);
    return hid_io::pending;
}

void cancel_node_read(hidraw_node &node, hid_transfer *transfer) noexcept
{
    if (node.reading == transfer)
        event_cancel(node.source); // nothing, when it has ended
}

void cancel_node_reads(hidraw_node &node) noexcept { event_cancel_fd(node.source.fd); }

void fill_node(hidraw_node &node, input_queue &input, time_point now) noexcept
{
    // The kernel drops what a full node cannot take; so does a full socket.
    while (input.pop_arrived(now, node.report.data(), node.report.size()))
        (void)!send(node.sender, node.report.data(), node.report.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
}

void drain_node(hidraw_node &node) noexcept
{
    uint8_t discard[1];
    while (recv(node.source.fd, discard, sizeof discard, MSG_DONTWAIT | MSG_TRUNC) > 0) {
    }
}

} // namespace kv4::sim

#endif
