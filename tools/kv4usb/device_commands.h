// Commands that ask a monitor about itself or send it one service command.
#pragma once

#include "arguments.h"
#include "context.h"

#include <cstdint>
#include <vector>

namespace kv4usb {

int run_list(context &ctx, const arguments &args);
int run_info(context &ctx, const arguments &args);
int run_echo(context &ctx, const arguments &args);
int run_status(context &ctx, const arguments &args);
int run_special(context &ctx, const arguments &args);
int run_feature(context &ctx, const arguments &args);
int run_crc(context &ctx, const arguments &args);
int run_update_status(context &ctx, const arguments &args);

// Shared with the demo.
void print_ports(console &io, const std::vector<uint16_t> &ports);
void print_info(console &io, uint16_t port);
uint32_t image_crc(uint16_t port, uint32_t address, uint32_t length);

} // namespace kv4usb
