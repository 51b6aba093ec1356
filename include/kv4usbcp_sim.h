/*
 * kv4usbcp_sim.h - driving interface of the simulated KV4 monitor bus.
 *
 * The simulator library (KV4USBCP_sim.dll, libkv4usbcp_sim.so) exports every tkcmdsetUSB_*
 * function of KV4USBCP over a virtual HID bus, plus the functions below to plug simulated monitors
 * in and out, script their faults and timing, and look at what crossed the bus. A simulated
 * monitor answers the service command set (echo, status, special, memory blocks, image CRC,
 * update status) from its own memories; other frames go to a responder the host installs.
 *
 * Every function is callable from any thread. Unless said otherwise a function returns 0 on
 * success and KV4SIM_INVALID_PARAMETER for a bad argument, including a monitor that was destroyed.
 * Nothing here reads an environment variable or a file.
 */
#ifndef KV4USBCP_SIM_H
#define KV4USBCP_SIM_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#  if defined(KV4SIM_BUILD)
#    define KV4SIM_API __declspec(dllexport)
#  elif defined(KV4USBCP_STATIC)
#    define KV4SIM_API
#  else
#    define KV4SIM_API __declspec(dllimport)
#  endif
#else
#  define KV4SIM_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define KV4SIM_INVALID_PARAMETER (-10125) /* TKUSB_INVALID_PARAMETER */

/* ---- Monitor codes ------------------------------------------------------------------------------
 * A refused command is answered with status byte 0 and one of these codes, big-endian, in bytes
 * 1-2. They are codes of KV4USBCP's error table, so the host sees a name and a sentence. */
#define KV4SIM_ERR_UNKNOWN_COMMAND (-163)   /* no service command and no responder (TKFRAME_NO_USB_FRAME_ERR) */
#define KV4SIM_ERR_SHORT_FRAME (-10176)     /* the frame ends before its parameters or data (TKCSAFE_INCORRECT_CMD_PARAMS) */
#define KV4SIM_ERR_ANSWER_TOO_LONG (-10175) /* the answer would not fit the largest input report (TKCSAFE_RSP_DATA_EXCEEDS_LIMIT) */
#define KV4SIM_ERR_OUT_OF_RANGE (-10179)    /* a block outside its memory (TKCSAFE_DATATAB_INVALID_ADDRESS) */
#define KV4SIM_ERR_CRC_START (-20100)       /* CRC start address past the flash (KV4FLASH_INVALID_CRC_START_ERR) */
#define KV4SIM_ERR_CRC_END (-20101)         /* CRC region ends past the flash (KV4FLASH_INVALID_CRC_END_ERR) */

/* ---- Monitors ---------------------------------------------------------------------------------- */

typedef struct kv4sim_monitor kv4sim_monitor;

/* Report types, numbered as the HID parser numbers them. */
#define KV4SIM_INPUT 0
#define KV4SIM_OUTPUT 1
#define KV4SIM_FEATURE 2

/* One value capability exactly as the HID parser reports it; several may share a usage. The
 * report count is the report's payload in bytes after the report ID (at least 1). */
typedef struct kv4sim_value_cap {
    uint8_t type; /* KV4SIM_INPUT, KV4SIM_OUTPUT or KV4SIM_FEATURE */
    uint16_t usage;
    uint8_t report_id;
    uint16_t report_count;
} kv4sim_value_cap;

/* What a monitor looks like; every field is optional, zero or NULL gives the default. Texts are
 * UTF-8 and copied at attach. */
typedef struct kv4sim_monitor_desc {
    const char *product;           /* "KV4 Quillon5 Monitor" */
    const char *serial;            /* "SIM00001", counting up with every attach since the last reset */
    uint16_t product_id;           /* 0x0001 */
    const char *fw_version;        /* indexed string 4: "SIM-FW 1.00" */
    const char *hw_version;        /* indexed string 5: "SIM-HW A" */
    const char *loader_version;    /* indexed string 6: "SIM-BL 1.00" */
    const kv4sim_value_cap *caps;  /* the report layout; NULL: input and output reports with */
    size_t ncaps;                  /* IDs 1-4 of 20, 60, 120 and 500 bytes, feature ID 5 of 32 */
} kv4sim_monitor_desc;

/* Creates a monitor and plugs it in on a new socket (an arrival). NULL on a bad description
 * (caps NULL with ncaps non-zero, an unknown type, a report count of 0, more than 65535 caps). */
KV4SIM_API kv4sim_monitor *kv4sim_attach(const kv4sim_monitor_desc *desc);
/* Unplugs it (a removal): handles open on it die, pending transfers on them fail. The monitor
 * keeps its memories and settings. 0 also when it was not plugged in. */
KV4SIM_API int kv4sim_detach(kv4sim_monitor *m);
/* Plugs a detached monitor back in (an arrival), on a new socket and so under a new device path
 * when new_socket is non-zero. KV4SIM_INVALID_PARAMETER when it is plugged in, -10118
 * (TKUSB_SYSTEM_MEMORY_ERR) when memory runs out. */
KV4SIM_API int kv4sim_reattach(kv4sim_monitor *m, int new_socket);
/* Plugs a detached monitor back in under path (an arrival), as a system that names a device by
 * where it sits hands the name a device left to the next one plugged in: Linux gives a new HID
 * device the lowest free /dev/hidrawN. With the path another monitor had (kv4sim_path), the
 * library takes this monitor for that one, since it tells devices apart by their paths.
 * KV4SIM_INVALID_PARAMETER when it is plugged in or path is NULL, empty or a plugged-in monitor's;
 * -10118 when memory runs out. */
KV4SIM_API int kv4sim_reattach_at(kv4sim_monitor *m, const char *path);
/* Unplugs it if needed and frees it. */
KV4SIM_API void kv4sim_destroy(kv4sim_monitor *m);
/* Destroys every monitor and forgets the announced volumes: a clean bus. No timed work is left
 * behind when it returns. */
KV4SIM_API void kv4sim_reset(void);
/* Its current device path, valid until the monitor is destroyed; NULL for a bad monitor. */
KV4SIM_API const char *kv4sim_path(const kv4sim_monitor *m);

/* ---- Faults and timing ------------------------------------------------------------------------- */

/* The bus keeps Windows' rules for transfers, so that a host that breaks them fails here too: a
 * write longer than the largest output report (report ID included) and a read shorter than the
 * largest input report are refused; a cancelled transfer, or one pending when its handle is
 * closed, ends as failed a few hundred microseconds later, not at once; starting a transfer with a
 * record whose transfer is still pending is refused. A start refused at once leaves the record's
 * status pending, as kernel32 leaves it, though the record is free for the next transfer: only the
 * library's own bookkeeping may take it for failed. */

#define KV4SIM_FAULT_REFUSE_WRITE 1     /* starting a write fails outright */
#define KV4SIM_FAULT_REFUSE_READ 2      /* starting a read fails outright */
#define KV4SIM_FAULT_REFUSE_FEATURE 3   /* feature reports are refused */
#define KV4SIM_FAULT_REFUSE_STRINGS 4   /* product, serial and indexed strings are refused */
#define KV4SIM_FAULT_NO_ANSWER 5        /* writes complete, the frame is ignored, no answer comes */
#define KV4SIM_FAULT_HELD_OPEN 6        /* another program holds it: every open is a sharing violation */
#define KV4SIM_FAULT_UNPLUG_ON_WRITE 7  /* the next write unplugs it mid-transfer (then the fault clears) */
#define KV4SIM_FAULT_REFUSE_PREPARSED 8 /* the parsed report descriptor cannot be fetched */
#define KV4SIM_FAULT_REFUSE_VALUE_CAPS 9 /* the parser delivers no value capabilities */
#define KV4SIM_FAULT_CANCEL_STUCK 10    /* cancelled transfers end only once the fault is cleared (a driver in trouble) */
#define KV4SIM_FAULT_REFUSE_INDEXED_STRINGS 11 /* indexed strings are refused, product and serial answer (a HID stack without them) */
#define KV4SIM_FAULT_WRITE_STALLS 12    /* the monitor takes no output report (wedged, or erasing its flash): writes
                                         * stay pending, as a hidraw write blocks; a cancel ends one as failed, its
                                         * frame unsent; clearing the fault fails those still pending, as the
                                         * system gives up on a report the device never took */
#define KV4SIM_FAULT_ANSWER_ALL 13      /* the responder answers every frame, service commands too (a monitor
                                         * whose firmware answers them wrongly); without one they are refused */

KV4SIM_API int kv4sim_set_fault(kv4sim_monitor *m, int fault, int on);
/* Time a write takes to complete and, after that, the time the answer takes to arrive, in
 * microseconds (0 and 0 by default: both at once). The monitor takes the frame when the write
 * starts; cancelling a write that has not completed only loses the answer. */
KV4SIM_API int kv4sim_set_latency_us(kv4sim_monitor *m, unsigned write_us, unsigned answer_us);

/* By default the bus keeps Windows' rules; a rule switched on here keeps another system's instead,
 * bus-wide, until it is switched off or kv4sim_reset. KV4SIM_INVALID_PARAMETER where it cannot be. */
#define KV4SIM_RULE_READ_BY_WAITER 1 /* Linux hidraw: a read ends only while a thread waits for its event,
                                      * which then takes the report off the node; nothing ends it in the
                                      * background. For handles opened from then on. Not on Windows. */
#define KV4SIM_RULE_REFUSE_PLUG_EVENTS 2 /* The system will not deliver plug events (no udev monitor to be
                                          * had): registering for device events fails. Not on Windows,
                                          * whose own window gets the simulated broadcasts. */
KV4SIM_API int kv4sim_set_rule(int rule, int on);

/* ---- What the monitor answers ------------------------------------------------------------------ */

/* The 4 bytes answered to the status command, most significant first (default 0x01000000). */
KV4SIM_API int kv4sim_set_status_word(kv4sim_monitor *m, uint32_t word);
/* The values answered to the update-status commands 0x2D and 0x2E (default all 0). */
KV4SIM_API int kv4sim_set_update_status(kv4sim_monitor *m, uint16_t first, uint16_t second);
KV4SIM_API int kv4sim_set_v3_update_status(kv4sim_monitor *m, uint32_t first, uint16_t second);

#define KV4SIM_FLASH 0     /* 1 MiB, written in 16-bit words */
#define KV4SIM_SPI_FLASH 1 /* 2 MiB */
#define KV4SIM_RAM 2       /* 64 KiB */
#define KV4SIM_EEPROM 3    /* 8 KiB */

/* Reads or presets len bytes of a memory at a byte address, without going through the bus.
 * KV4SIM_INVALID_PARAMETER when the block does not lie inside the memory. */
KV4SIM_API int kv4sim_read_memory(kv4sim_monitor *m, int region, uint32_t address, void *buf, size_t len);
KV4SIM_API int kv4sim_write_memory(kv4sim_monitor *m, int region, uint32_t address, const void *buf, size_t len);

/* Answers a frame that is no service command. frame holds the output report's whole payload
 * (the frame and whatever padding the host sent up to the report's size; a monitor cannot tell the
 * two apart either). Write the answer, status byte first, into answer (capacity bytes, the largest
 * input report's payload) and return its length; 0 sends no answer at all. Called on the thread
 * that writes the frame, with no simulator lock held, one frame of a monitor at a time; it may
 * call any kv4sim_ function but must not write to the same monitor through the library. */
typedef size_t (*kv4sim_responder)(void *context, const uint8_t *frame, size_t length, uint8_t *answer,
                                   size_t capacity);
/* Installs the responder of a monitor; NULL removes it (unknown frames are then refused with
 * KV4SIM_ERR_UNKNOWN_COMMAND). */
KV4SIM_API int kv4sim_set_responder(kv4sim_monitor *m, kv4sim_responder responder, void *context);

/* Sends frame unasked, as a monitor that reports something on its own would: it arrives at once in
 * the smallest input report that holds it (the largest, cut, when none does) and waits in the
 * input queue for the host's next read, unless the host drops queued input first. */
KV4SIM_API int kv4sim_queue_input(kv4sim_monitor *m, const void *frame, size_t length);

/* ---- Wire log ---------------------------------------------------------------------------------- */

#define KV4SIM_WIRE_OUTPUT 1  /* written by the host */
#define KV4SIM_WIRE_INPUT 2   /* answered by the monitor: the report it chose, padded with zeros */
#define KV4SIM_WIRE_FEATURE 3 /* feature report sent by the host */

typedef struct kv4sim_wire_entry {
    int kind;
    const uint8_t *bytes; /* the whole transfer, report ID in byte 0; valid until the log is cleared */
    size_t length;
} kv4sim_wire_entry;

/* Number of reports logged for the monitor; 0 for a bad monitor. */
KV4SIM_API size_t kv4sim_wire_count(const kv4sim_monitor *m);
KV4SIM_API int kv4sim_wire_get(const kv4sim_monitor *m, size_t i, kv4sim_wire_entry *out);
KV4SIM_API void kv4sim_wire_clear(kv4sim_monitor *m);
/* Turns logging on or off for the monitor (on by default). Logging copies every report; turn it
 * off where that cost matters, as in benchmarks. */
KV4SIM_API int kv4sim_set_wire_log(kv4sim_monitor *m, int on);

/* ---- Volumes ----------------------------------------------------------------------------------- */

/* Delivers a volume broadcast: unitmask bit 0 is drive A, up to bit 25 (Z); flags are the DBTF
 * flags of the broadcast. While a drive is present after an arrival, the volume queries report
 * label for it (NULL: no label). */
KV4SIM_API int kv4sim_announce_volume(uint32_t unitmask, int arrived, uint16_t flags, const char *label);

/* ---- Broadcasts and debug lines ---------------------------------------------------------------- */

/* Plugging a monitor in (kv4sim_attach, kv4sim_reattach) broadcasts the arrival of its device
 * path, unplugging it (kv4sim_detach, kv4sim_destroy, kv4sim_reset) its removal, and
 * kv4sim_announce_volume the volume's arrival or removal, to the library's notification window as
 * the system would. The system sends these messages: called from inside an event callback (on
 * the notification thread), the broadcast reaches the window at once, as one does when a host's
 * callback runs a message loop (a MessageBox). These deliver a broadcast alone, so that a host can
 * be shown what the system may also send: */
#define KV4SIM_ARRIVAL 0x8000         /* DBT_DEVICEARRIVAL */
#define KV4SIM_REMOVE_PENDING 0x8003  /* DBT_DEVICEREMOVEPENDING */
#define KV4SIM_REMOVE_COMPLETE 0x8004 /* DBT_DEVICEREMOVECOMPLETE */
/* Delivers a device-interface broadcast naming path, with this event (other values are passed on
 * as they are), to the notification thread as the system would; the bus does not change. */
KV4SIM_API int kv4sim_broadcast_interface(const char *path, uint32_t event);
/* Delivers a volume broadcast without changing which volumes are present. */
KV4SIM_API int kv4sim_broadcast_volume(uint32_t unitmask, uint32_t event, uint16_t flags);
/* Receives each debug line of the library (as given to the debug output) instead of the
 * platform's debug output; NULL restores it. Lines come one at a time, on the thread that writes
 * them, and none reaches a sink after it was replaced. */
typedef void (*kv4sim_debug_sink)(void *context, const char *line);
KV4SIM_API int kv4sim_set_debug_sink(kv4sim_debug_sink sink, void *context);

#ifdef __cplusplus
}
#endif

#endif /* KV4USBCP_SIM_H */
