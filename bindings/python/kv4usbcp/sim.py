"""Simulated monitors: the library over a virtual HID bus, and the bus's driving interface.

The simulator library (``libkv4usbcp_sim.so.3``, ``KV4USBCP_sim.dll``) is looked for inside the
package, then at ``KV4USBCP_SIM_LIBRARY``, then where the system keeps its libraries.

    from kv4usbcp import sim
    monitor = sim.attach()                  # "KV4 Quillon5 Monitor", serial SIM00001
    with sim.Library() as lib:
        port, = lib.find_monitors("Quillon5")
        monitor.set_fault(sim.FAULT_NO_ANSWER, True)
        port.status()                       # raises kv4usbcp.Timeout after a second
"""
from __future__ import annotations

import ctypes
import logging
from ctypes import POINTER, Structure, c_char_p, c_int, c_size_t, c_uint8, c_uint16, c_uint32, c_void_p
from dataclasses import dataclass
from typing import Any, Callable, Dict, List, Optional, Sequence, Tuple

from . import _native, library
from .errors import check
from .library import Region

log = logging.getLogger("kv4usbcp")

FAULT_REFUSE_WRITE = 1
FAULT_REFUSE_READ = 2
FAULT_REFUSE_FEATURE = 3
FAULT_REFUSE_STRINGS = 4
FAULT_NO_ANSWER = 5
FAULT_HELD_OPEN = 6
FAULT_UNPLUG_ON_WRITE = 7
FAULT_REFUSE_PREPARSED = 8
FAULT_REFUSE_VALUE_CAPS = 9
FAULT_CANCEL_STUCK = 10
FAULT_REFUSE_INDEXED_STRINGS = 11
FAULT_WRITE_STALLS = 12
FAULT_ANSWER_ALL = 13

RULE_READ_BY_WAITER = 1
RULE_REFUSE_PLUG_EVENTS = 2

INPUT, OUTPUT, FEATURE = 0, 1, 2                       # report types of a ValueCap
WIRE_OUTPUT, WIRE_INPUT, WIRE_FEATURE = 1, 2, 3        # kinds of the wire log's entries
ARRIVAL, REMOVE_PENDING, REMOVE_COMPLETE = 0x8000, 0x8003, 0x8004

# A monitor's refusals (status byte 0 and the code).
ERR_UNKNOWN_COMMAND = -163
ERR_SHORT_FRAME = -10176
ERR_ANSWER_TOO_LONG = -10175
ERR_OUT_OF_RANGE = -10179
ERR_CRC_START = -20100
ERR_CRC_END = -20101


class ValueCap(Structure):
    """One value capability of a report layout; report_count is the payload after the report ID."""
    _fields_ = [("type", c_uint8), ("usage", c_uint16), ("report_id", c_uint8), ("report_count", c_uint16)]


class _Desc(Structure):
    _fields_ = [("product", c_char_p), ("serial", c_char_p), ("product_id", c_uint16), ("fw_version", c_char_p),
                ("hw_version", c_char_p), ("loader_version", c_char_p), ("caps", POINTER(ValueCap)),
                ("ncaps", c_size_t)]


class _WireEntry(Structure):
    _fields_ = [("kind", c_int), ("bytes", POINTER(c_uint8)), ("length", c_size_t)]


_Responder = ctypes.CFUNCTYPE(c_size_t, c_void_p, POINTER(c_uint8), c_size_t, POINTER(c_uint8), c_size_t)
_DebugSink = ctypes.CFUNCTYPE(None, c_void_p, c_char_p)
_monitor = c_void_p
_EXPORTS = {
    "attach": (_monitor, (POINTER(_Desc),)),
    "detach": (c_int, (_monitor,)),
    "reattach": (c_int, (_monitor, c_int)),
    "reattach_at": (c_int, (_monitor, c_char_p)),
    "destroy": (None, (_monitor,)),
    "reset": (None, ()),
    "path": (c_char_p, (_monitor,)),
    "set_fault": (c_int, (_monitor, c_int, c_int)),
    "set_latency_us": (c_int, (_monitor, ctypes.c_uint, ctypes.c_uint)),
    "set_rule": (c_int, (c_int, c_int)),
    "set_status_word": (c_int, (_monitor, c_uint32)),
    "set_update_status": (c_int, (_monitor, c_uint16, c_uint16)),
    "set_v3_update_status": (c_int, (_monitor, c_uint32, c_uint16)),
    "read_memory": (c_int, (_monitor, c_int, c_uint32, c_void_p, c_size_t)),
    "write_memory": (c_int, (_monitor, c_int, c_uint32, c_void_p, c_size_t)),
    "set_responder": (c_int, (_monitor, _Responder, c_void_p)),
    "queue_input": (c_int, (_monitor, c_void_p, c_size_t)),
    "wire_count": (c_size_t, (_monitor,)),
    "wire_get": (c_int, (_monitor, c_size_t, POINTER(_WireEntry))),
    "wire_clear": (None, (_monitor,)),
    "set_wire_log": (c_int, (_monitor, c_int)),
    "announce_volume": (c_int, (c_uint32, c_int, c_uint16, c_char_p)),
    "broadcast_interface": (c_int, (c_char_p, c_uint32)),
    "broadcast_volume": (c_int, (c_uint32, c_uint32, c_uint16)),
    "set_debug_sink": (c_int, (_DebugSink, c_void_p)),
}


class SimNative(_native.Native):
    """The simulator library: every export of the production one, and the bus's as ``sim_*``."""

    def __init__(self, dll: ctypes.CDLL) -> None:
        super().__init__(dll)
        _native.declare(dll, "kv4sim_", _EXPORTS, self, "sim_")



_loaded: Optional[SimNative] = None


def native() -> SimNative:
    """The simulator library, loaded once."""
    global _loaded
    if _loaded is None:
        dll = _native.load("KV4USBCP_sim.dll", "libkv4usbcp_sim.so.3", "kv4usbcp_sim", "KV4USBCP_SIM_LIBRARY")
        _loaded = SimNative(dll)
    return _loaded


class Library(library.Library):
    """kv4usbcp.Library over the simulated bus."""

    def __init__(self, exchange_timeout: int = 1000) -> None:
        super().__init__(exchange_timeout, native())


def _ok(code: int) -> None:
    check(native(), code)


@dataclass(frozen=True)
class WireEntry:
    kind: int     # WIRE_OUTPUT, WIRE_INPUT or WIRE_FEATURE
    data: bytes   # the whole transfer, report ID first


Responder = Callable[[bytes], Optional[bytes]]
# The installed responders' callback objects by monitor, kept while the monitor may call them,
# whatever becomes of the Monitor objects.
_responders: Dict[int, Any] = {}


class Monitor:
    """A simulated monitor, plugged in when made by attach()."""

    def __init__(self, handle: int) -> None:
        self.handle = handle

    def detach(self) -> None:
        """Unplugs it: open handles die, pending transfers fail; memories and settings stay."""
        _ok(native().sim_detach(self.handle))

    def reattach(self, new_socket: bool = False) -> None:
        """Plugs it back in (under a new device path with new_socket)."""
        _ok(native().sim_reattach(self.handle, int(new_socket)))

    def reattach_at(self, path: str) -> None:
        """Plugs it back in under path (another monitor's old one, say)."""
        _ok(native().sim_reattach_at(self.handle, path.encode()))

    def destroy(self) -> None:
        """Unplugs it if needed and frees it; the object is unusable afterwards."""
        native().sim_destroy(self.handle)
        _responders.pop(self.handle, None)

    @property
    def path(self) -> str:
        return (native().sim_path(self.handle) or b"").decode()

    def set_fault(self, fault: int, on: bool = True) -> None:
        _ok(native().sim_set_fault(self.handle, fault, int(on)))

    def set_latency(self, write_us: int, answer_us: int) -> None:
        """How long a write takes to complete and the answer then takes to arrive, in microseconds."""
        _ok(native().sim_set_latency_us(self.handle, write_us, answer_us))

    def set_status_word(self, word: int) -> None:
        _ok(native().sim_set_status_word(self.handle, word))

    def set_update_status(self, first: int, second: int, v3: bool = False) -> None:
        setter = native().sim_set_v3_update_status if v3 else native().sim_set_update_status
        _ok(setter(self.handle, first, second))

    def read_memory(self, region: Region, address: int, length: int) -> bytes:
        """Reads the monitor's memory directly, not through the bus."""
        data = ctypes.create_string_buffer(length)
        _ok(native().sim_read_memory(self.handle, int(region), address, data, length))
        return data.raw

    def write_memory(self, region: Region, address: int, data: bytes) -> None:
        """Presets the monitor's memory directly, not through the bus."""
        _ok(native().sim_write_memory(self.handle, int(region), address, bytes(data), len(data)))

    def set_responder(self, responder: Optional[Responder]) -> None:
        """Answers the frames that are no service command: responder(payload) returns the answer,
        status byte first, or None for no answer. It runs on the thread writing the frame; what it
        raises is logged and no answer goes."""
        def respond(_: Any, frame: Any, length: int, answer: Any, capacity: int) -> int:
            try:
                reply = responder(ctypes.string_at(frame, length)) if responder else None
                if not reply:
                    return 0
                reply = reply[:capacity]
                ctypes.memmove(answer, reply, len(reply))
                return len(reply)
            except BaseException:
                log.exception("a simulated monitor's responder raised")
                return 0
        callback = _Responder(respond) if responder else ctypes.cast(None, _Responder)
        _ok(native().sim_set_responder(self.handle, callback, None))
        _responders[self.handle] = callback

    def queue_input(self, frame: bytes) -> None:
        """Sends frame unasked; it waits in the input queue for the host's next read."""
        _ok(native().sim_queue_input(self.handle, bytes(frame), len(frame)))

    def wire(self) -> List[WireEntry]:
        """Every report logged since the log was last cleared."""
        entries = []
        entry = _WireEntry()
        for i in range(native().sim_wire_count(self.handle)):
            _ok(native().sim_wire_get(self.handle, i, ctypes.byref(entry)))
            entries.append(WireEntry(entry.kind, ctypes.string_at(entry.bytes, entry.length)))
        return entries

    def clear_wire(self) -> None:
        native().sim_wire_clear(self.handle)

    def set_wire_log(self, on: bool) -> None:
        """Logging copies every report: turn it off where that cost matters."""
        _ok(native().sim_set_wire_log(self.handle, int(on)))


def attach(product: Optional[str] = None, serial: Optional[str] = None, product_id: int = 0,
           fw_version: Optional[str] = None, hw_version: Optional[str] = None,
           loader_version: Optional[str] = None, caps: Sequence[Tuple[int, int, int, int]] = ()) -> Monitor:
    """Plugs in a new monitor; what is not given takes the default (a "KV4 Quillon5 Monitor" with
    serial SIM0000n and reports of 20, 60, 120 and 500 bytes). caps: (type, usage, report ID,
    payload) for each value capability of its report layout."""
    def text(value: Optional[str]) -> Optional[bytes]:
        return value.encode() if value is not None else None
    table = (ValueCap * max(len(caps), 1))(*[ValueCap(*cap) for cap in caps])
    desc = _Desc(text(product), text(serial), product_id, text(fw_version), text(hw_version), text(loader_version),
                 table if caps else None, len(caps))
    handle = native().sim_attach(ctypes.byref(desc))
    if not handle:
        raise ValueError("the simulator refused the monitor's description")
    return Monitor(handle)


def reset() -> None:
    """Destroys every monitor and forgets the announced volumes."""
    native().sim_reset()
    _responders.clear()


def set_rule(rule: int, on: bool = True) -> None:
    _ok(native().sim_set_rule(rule, int(on)))


def announce_volume(unitmask: int, arrived: bool, flags: int = 0, label: Optional[str] = None) -> None:
    """A volume arrives or leaves (bit 0 of unitmask is drive A:)."""
    _ok(native().sim_announce_volume(unitmask, int(arrived), flags, label.encode() if label is not None else None))


def broadcast_interface(path: str, event: int) -> None:
    _ok(native().sim_broadcast_interface(path.encode(), event))


def broadcast_volume(unitmask: int, event: int, flags: int = 0) -> None:
    _ok(native().sim_broadcast_volume(unitmask, event, flags))


_sink: Optional[Any] = None


def set_debug_sink(sink: Optional[Callable[[str], None]]) -> None:
    """Hands each debug line of the library to sink (None: back to the platform's debug output)."""
    global _sink

    def forward(_: Any, line: bytes) -> None:
        try:
            sink(line.decode("utf-8", "replace"))  # type: ignore[misc]
        except BaseException:
            log.exception("the debug sink raised")
    callback = _DebugSink(forward) if sink else ctypes.cast(None, _DebugSink)
    _ok(native().sim_set_debug_sink(callback, None))
    _sink = callback if sink else None
