// The library kv4usb drives, loaded at run time as any host may load it: the production library
// for the monitors attached, or the simulator library in its place. Both export the same names, so
// every call goes through a table of the functions resolved from the library chosen.
#pragma once

#include "kv4usbcp.h"
#include "kv4usbcp_sim.h"

namespace kv4usb {

// The tkcmdsetUSB_ functions kv4usb calls, without their prefix.
// clang-format off
#define KV4USB_LIBRARY_CALLS(X)                                                                                  \
    X(init) X(shutdown_all) X(find_devices) X(reset_port) X(max_report_size) X(get_buffer_mode)                \
    X(serial_number) X(fw_version) X(hw_version) X(loader_fw_version) X(echo) X(status) X(special)             \
    X(set_feature) X(get_image_crc) X(get_update_status) X(get_V3_update_status) X(get_error_name)             \
    X(get_error_text) X(send_command) X(register_asyncio) X(unregister_asyncio) X(register_events3)           \
    X(unregister_events3) X(read_eeblk8) X(write_eeblk8) X(read_memblk8) X(write_memblk8) X(read_flashblk16)   \
    X(write_flashblk16) X(read_spiflashblk8) X(write_spiflashblk8)
// The kv4sim_ functions, which only the simulator library has.
#define KV4USB_SIMULATOR_CALLS(X)                                                                                \
    X(attach) X(destroy) X(detach) X(reattach) X(announce_volume) X(write_memory)
// clang-format on

#define KV4USB_LIBRARY_MEMBER(name) decltype(&tkcmdsetUSB_##name) name = nullptr;
#define KV4USB_SIMULATOR_MEMBER(name) decltype(&kv4sim_##name) name = nullptr;
struct library_calls {
    KV4USB_LIBRARY_CALLS(KV4USB_LIBRARY_MEMBER)
};
struct simulator_calls {
    KV4USB_SIMULATOR_CALLS(KV4USB_SIMULATOR_MEMBER)
};
#undef KV4USB_LIBRARY_MEMBER
#undef KV4USB_SIMULATOR_MEMBER

enum class library_kind { production, simulator };

struct library {
    library_calls usb;
    simulator_calls sim; // all null in the production library
};

// Gives the library of that kind, loaded once and kept for the life of the process (a library is
// never unloaded while its threads may still run); throws tool_failure when it cannot be loaded.
using library_loader = const library &(*)(library_kind kind);

// The shared library beside the program, in the installed library folder, in the build tree or
// where the system looks, in that order.
const library &load_shared_library(library_kind kind);

// The library the session chose; its calls.
void use_library(const library &chosen);
const library_calls &usb();
const simulator_calls &sim();

} // namespace kv4usb
