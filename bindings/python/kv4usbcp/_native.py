"""Finding and loading the native library, and the C signature of every export.

The library is looked for, in this order: inside the package (``_native/``, put there when the
wheel is built), at the path in an environment variable, and where the system keeps its shared
libraries. Each export gets its argument and result types, so that ctypes converts and checks the
arguments as a C compiler would.
"""
from __future__ import annotations

import ctypes
import ctypes.util
import os
import sys
from pathlib import Path
from typing import Any, Callable, Dict, List, Optional, Sequence, Tuple

from ctypes import POINTER, c_char_p, c_int16, c_int32, c_uint8, c_uint16, c_uint32

_PACKAGE_NATIVE = Path(__file__).resolve().parent / "_native"
WINDOWS = sys.platform == "win32"


class LibraryNotFound(OSError):
    """No native library could be loaded; the message names every place tried."""


def load(windows_name: str, soname: str, short_name: str, variable: str) -> ctypes.CDLL:
    """Loads the first library found: the package's own, then ``variable``'s, then the system's."""
    tried: List[str] = []
    candidates = [str(_PACKAGE_NATIVE / (windows_name if WINDOWS else soname))]
    if os.environ.get(variable):
        candidates.append(os.environ[variable])
    system = ctypes.util.find_library(short_name)
    candidates += [name for name in (system, windows_name if WINDOWS else soname) if name]
    for candidate in dict.fromkeys(candidates):
        if os.path.dirname(candidate) and not os.path.exists(candidate):
            tried.append(f"{candidate} (no such file)")
            continue
        try:
            return ctypes.CDLL(candidate)
        except OSError as error:
            tried.append(f"{candidate} ({error})")
    raise LibraryNotFound(
        f"cannot load {soname if not WINDOWS else windows_name}; tried: " + "; ".join(tried)
        + f". Install the package with its native library, or set {variable} to the library's path."
    )


class UpdateStatus(ctypes.Structure):
    _fields_ = [("first_value", c_uint16), ("second_value", c_uint16)]


class V3UpdateStatus(ctypes.Structure):
    _fields_ = [("first_value", c_uint32), ("second_value", c_uint16)]


# The callback types; their objects must stay referenced for as long as the library may call them.
EventCallback = ctypes.CFUNCTYPE(None, c_uint16, c_int32)
EventCallback2 = ctypes.CFUNCTYPE(None, c_uint16, c_int32, c_char_p, c_char_p)
EventCallback3 = ctypes.CFUNCTYPE(None, c_uint16, c_int32, c_char_p, c_char_p, c_uint16)
AsyncioCallback = ctypes.CFUNCTYPE(None, c_uint16, POINTER(c_uint8), c_uint16, c_int16, c_int16)

# Byte buffers are passed as bytes (read only) or create_string_buffer (written by the library):
# no copy on the way in.
_bytes = c_char_p
_u16p = POINTER(c_uint16)
_text = (c_uint16, c_char_p, c_uint8)
_write_block = (c_uint16, c_uint32, _bytes, c_uint32, _u16p)
_write_block16 = (c_uint16, c_uint32, _bytes, c_uint16, _u16p)
_transaction = (c_uint16, _bytes, c_uint16, _bytes, _u16p, c_uint16)

# name: (result type, argument types), in the order of kv4usbcp.h.
EXPORTS: Dict[str, Tuple[Any, Sequence[Any]]] = {
    "get_error_name": (None, (c_int16, c_char_p, c_uint16)),
    "get_error_text": (None, (c_int16, c_char_p, c_uint16)),
    "init": (c_int16, ()),
    "shutdown_all": (c_int16, ()),
    "shutdown": (c_int16, (c_uint16,)),
    "lock": (c_int16, ()),
    "unlock": (c_int16, ()),
    "get_dll_version": (c_uint16, ()),
    "find_devices": (c_int16, (c_char_p, POINTER(c_uint8), _u16p)),
    "reset_port": (c_int16, (c_uint16,)),
    "do_command": (c_int16, _transaction),
    "do_DDIcommand": (c_int16, _transaction),
    "echo": (c_int16, (c_uint16, _bytes, c_uint16)),
    "status": (c_int16, (c_uint16, POINTER(c_uint32))),
    "special": (c_int16, (c_uint16, c_uint16, c_uint32, POINTER(c_uint32))),
    "write_flashblk16": (c_int16, _write_block),
    "read_flashblk16": (c_int16, _write_block),
    "write_spiflashblk8": (c_int16, _write_block),
    "read_spiflashblk8": (c_int16, _write_block),
    "write_memblk16": (c_int16, _write_block),
    "write_memblk8": (c_int16, _write_block16),
    "read_memblk8": (c_int16, _write_block16),
    "write_eeblk8": (c_int16, _write_block16),
    "read_eeblk8": (c_int16, _write_block16),
    "get_image_crc": (c_int16, (c_uint16, c_uint32, POINTER(c_uint32), c_uint32, _u16p)),
    "get_update_status": (c_int16, (c_uint16, POINTER(UpdateStatus), _u16p)),
    "get_V3_update_status": (c_int16, (c_uint16, POINTER(V3UpdateStatus), _u16p)),
    "serial_number": (c_int16, _text),
    "fw_version": (c_int16, _text),
    "hw_version": (c_int16, _text),
    "loader_fw_version": (c_int16, _text),
    "max_report_size": (c_int16, (c_uint16, _u16p)),
    "get_buffer_mode": (c_int16, (c_uint16, POINTER(c_uint8))),
    "set_feature": (c_int16, (c_uint16, c_uint16, c_uint16)),
    "register_events": (c_int16, (EventCallback,)),
    "register_events2": (c_int16, (EventCallback2,)),
    "register_events3": (c_int16, (EventCallback3,)),
    "unregister_events": (c_int16, ()),
    "unregister_events2": (c_int16, ()),
    "unregister_events3": (c_int16, ()),
    "register_asyncio": (c_int16, (AsyncioCallback, c_uint16)),
    "unregister_asyncio": (c_int16, ()),
    "send_command": (c_int16, (c_uint16, _bytes, c_uint16, c_uint16, c_uint16)),
}


class Native:
    """The library's exports as attributes without their ``tkcmdsetUSB_`` prefix."""

    def __init__(self, dll: ctypes.CDLL) -> None:
        self.dll = dll
        declare(dll, "tkcmdsetUSB_", EXPORTS, self)

    def __getattr__(self, name: str) -> Callable[..., Any]:  # for type checkers: set by declare()
        raise AttributeError(name)


def declare(dll: ctypes.CDLL, prefix: str, exports: Dict[str, Tuple[Any, Sequence[Any]]], into: object,
            attribute_prefix: str = "") -> None:
    """Sets each export's types and makes it an attribute of into, named without prefix."""
    for name, (restype, argtypes) in exports.items():
        function = getattr(dll, prefix + name)
        function.restype = restype
        function.argtypes = list(argtypes)
        setattr(into, attribute_prefix + name, function)


_production: Optional[Native] = None


def production() -> Native:
    """The production library, loaded once."""
    global _production
    if _production is None:
        _production = Native(load("KV4USBCP.dll", "libkv4usbcp.so.3", "kv4usbcp", "KV4USBCP_LIBRARY"))
    return _production

