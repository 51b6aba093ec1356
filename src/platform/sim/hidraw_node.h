// Reads ended by a waiter, as hidraw ends them (kv4sim_set_rule, KV4SIM_RULE_READ_BY_WAITER): a
// handle opened under the rule gets a node, a socket into which its monitor's input reports go as
// they arrive, as the kernel queues them at a hidraw node; a read attaches the node to its event,
// and ends only when a thread that waits for the event reads a report off the socket. Nothing
// ends such a read in the background, so a host that leaves a read's event out of its waits never
// sees the answer. The node uses the POSIX events' descriptor sources: elsewhere there is none.
// Everything here is called with the bus lock held.
#pragma once

#include "platform/sim/handle.h"
#include "platform/sim/input_queue.h"

namespace kv4::sim {

// Whether the rule can hold on this platform.
bool nodes_available() noexcept;
// A node for a handle on a monitor whose input reports are at most report_bytes long; null when
// the system refuses the socket.
hidraw_node *open_node(std::size_t report_bytes) noexcept;
// Ends the read under way as failed and frees the node.
void close_node(hidraw_node *node) noexcept;
// The monitor left: the reader's end sees the end of the stream, which fails the read under way
// once a waiter looks, and every later one.
void unplug_node(hidraw_node &node) noexcept;

// Starts a read of length bytes into buffer: always pending.
hid_io start_node_read(hidraw_node &node, uint8_t *buffer, uint16_t length, hid_transfer *transfer) noexcept;
// Ends the read as failed if it is the one under way.
void cancel_node_read(hidraw_node &node, hid_transfer *transfer) noexcept;
void cancel_node_reads(hidraw_node &node) noexcept;

// Moves the reports that have arrived by now from the queue into the node.
void fill_node(hidraw_node &node, input_queue &input, time_point now) noexcept;
// Discards the reports in the node.
void drain_node(hidraw_node &node) noexcept;

} // namespace kv4::sim
