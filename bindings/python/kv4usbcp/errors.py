"""The library's result codes as exceptions a host catches by what they mean for it."""
from __future__ import annotations

import ctypes
from typing import Any, Dict, Type

# The codes of the port operations (docs/result_codes.md), as the header names them.
INVALID_PORT = -10100
WRITE_FAILED = -10102
WRITE_TIMEOUT = -10104
READ_FAILED = -10105
READ_TIMEOUT = -10107
NO_PORT_INIT = -10109
SET_FEATURE = -10111
GET_STRING = -10112
SYSTEM_IO = -10115
OPEN_DEVICE = -10116
SYSTEM_MEMORY = -10118
TOOLONG_REPORT = -10120
DEVICE_CLOSED = -10123
EVENT_REGISTER = -10124
INVALID_PARAMETER = -10125
EVENT_TIMEOUT = -10126
ASYNC_REGISTER = -10127
ASYNC_INPROGRESS = -10128
ASYNC_UNREGISTERED = -10129
MUTEX_FAILED = -10203


class Kv4Error(Exception):
    """A call into the library failed: its result code, the code's identifier and its sentence."""

    def __init__(self, code: int, name: str, text: str) -> None:
        super().__init__(f"{name} ({code}): {text}")
        self.code = code
        self.name = name
        self.text = text


class PortClosed(Kv4Error):
    """The monitor is taken to be gone: the port is closed until reset or rediscovered."""


class Timeout(Kv4Error):
    """The monitor, or a library thread, did not answer in time; the port stays open."""


class InvalidPort(Kv4Error):
    """No port of that number was handed out."""


class MonitorError(Kv4Error):
    """The monitor refused the command with a code of its own."""


_CLASSES: Dict[int, Type[Kv4Error]] = {
    WRITE_FAILED: PortClosed, READ_FAILED: PortClosed, SET_FEATURE: PortClosed, GET_STRING: PortClosed,
    DEVICE_CLOSED: PortClosed, OPEN_DEVICE: PortClosed,
    WRITE_TIMEOUT: Timeout, READ_TIMEOUT: Timeout, EVENT_TIMEOUT: Timeout,
    INVALID_PORT: InvalidPort,
}
# Codes only the library itself gives; any other code of a port operation is the monitor's.
_LIBRARY_CODES = set(_CLASSES) | {NO_PORT_INIT, SYSTEM_IO, SYSTEM_MEMORY, TOOLONG_REPORT, EVENT_REGISTER,
                                  INVALID_PARAMETER, ASYNC_REGISTER, ASYNC_INPROGRESS, ASYNC_UNREGISTERED,
                                  MUTEX_FAILED}


def error(native: Any, code: int, from_monitor: bool = False) -> Kv4Error:
    """The exception for code, named and described by the loaded library."""
    name = ctypes.create_string_buffer(37)
    text = ctypes.create_string_buffer(141)
    native.get_error_name(code, name, 36)
    native.get_error_text(code, text, 140)
    if from_monitor or code not in _LIBRARY_CODES:
        cls: Type[Kv4Error] = MonitorError
    else:
        cls = _CLASSES.get(code, Kv4Error)
    return cls(code, name.value.decode("ascii", "replace"), text.value.decode("ascii", "replace"))


def check(native: Any, code: int) -> None:
    """Raises the exception for a non-zero result code."""
    if code:
        raise error(native, code)
