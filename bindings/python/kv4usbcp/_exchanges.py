"""Asynchronous exchanges: the library's one completion callback, shared by every port.

The library takes one exchange per port at a time and answers it on its I/O thread. The host may
ask for several on one port at once, so each port keeps a queue here: the next exchange of a port
is sent when the previous one's completion arrives. The library's own calls are made outside this
module's lock, since the library's I/O thread takes that lock to hand a completion over.
"""
from __future__ import annotations

import ctypes
import logging
import threading
from collections import deque
from typing import Any, Callable, Deque, Dict, List, Optional, Tuple

from . import _native
from .errors import ASYNC_UNREGISTERED, EVENT_TIMEOUT, Kv4Error, error

log = logging.getLogger("kv4usbcp")

# Called with the answer (status byte first), or None and the exception.
Completion = Callable[[Optional[bytes], Optional[Kv4Error]], None]

# The callback objects the library may call, kept from their registration until an unregistration
# the library confirmed (for good when it timed out: its thread may still be inside one), whatever
# becomes of the objects that registered them.
kept: List[Any] = []


def release(callback: Any, unregistration: int) -> None:
    if unregistration != EVENT_TIMEOUT:
        kept.remove(callback)


def outcome(native: Any, data: Optional[bytes], code: int) -> Tuple[Optional[bytes], Optional[Kv4Error]]:
    """The answer, or the exception: the library's failure, or the monitor's refusal (status byte 0
    and its code, big-endian, in bytes 1-2)."""
    if code:
        return None, error(native, code)
    assert data is not None
    if data[0] == 0 and len(data) >= 3:
        refusal = int.from_bytes(data[1:3], "big", signed=True)
        if refusal:
            return None, error(native, refusal, from_monitor=True)
    return data, None


class Exchanges:
    def __init__(self, native: Any, timeout_ms: int) -> None:
        self._native = native
        self._timeout = timeout_ms
        self._lock = threading.Lock()
        self._callback: Optional[Any] = None
        self._waiting: Dict[int, Deque[Tuple[bytes, Completion]]] = {}
        self._running: Dict[int, Tuple[int, Completion]] = {}
        self._tags = 0

    def send(self, port: int, frame: bytes, completion: Completion) -> None:
        """Queues frame for port; completion is called once, on the library's I/O thread (or on this
        thread when the library refuses the send at once)."""
        with self._lock:
            if self._callback is None:
                callback = _native.AsyncioCallback(self._completed)
                code = self._native.register_asyncio(callback, self._timeout)
                if code:
                    raise error(self._native, code)
                self._callback = callback
                kept.append(callback)
            self._waiting.setdefault(port, deque()).append((bytes(frame), completion))
            idle = port not in self._running
            if idle:
                self._running[port] = (-1, completion)  # claimed; the tag follows
        if idle:
            self._send_next(port)

    def _send_next(self, port: int) -> None:
        """Sends the port's next waiting exchange, if any; each refusal completes its exchange."""
        while True:
            with self._lock:
                queue = self._waiting.get(port)
                if not queue:
                    self._running.pop(port, None)
                    return
                frame, completion = queue.popleft()
                self._tags = (self._tags + 1) & 0x7FFF
                tag = self._tags
                self._running[port] = (tag, completion)
            code = self._native.send_command(port, frame, len(frame), 0, tag)
            if code == 0:
                return
            self._deliver(completion, None, error(self._native, code))

    def _completed(self, port: int, data: Any, length: int, result: int, tag: int) -> None:
        try:
            answer = ctypes.string_at(data, length) if result == 0 else None
            with self._lock:
                running = self._running.get(port)
                if running is None or running[0] != tag:
                    log.warning("completion of port %d with tag %d matches no exchange", port, tag)
                    return
            answer, failure = outcome(self._native, answer, result)
            self._deliver(running[1], answer, failure)
            self._send_next(port)
        except BaseException:  # nothing may reach the library's thread
            log.exception("handling the completion of port %d failed", port)

    @staticmethod
    def _deliver(completion: Completion, answer: Optional[bytes], failure: Optional[Kv4Error]) -> None:
        try:
            completion(answer, failure)
        except BaseException:
            log.exception("an exchange's completion callback raised")

    def close(self) -> None:
        """Ends the registration; exchanges under way end with TKUSB_ASYNC_UNREGISTERED."""
        with self._lock:
            callback, self._callback = self._callback, None
        if callback is None:
            return
        release(callback, self._native.unregister_asyncio())
        with self._lock:
            waiting = [c for queue in self._waiting.values() for _, c in queue]
            self._waiting.clear()
            self._running.clear()
        for completion in waiting:
            self._deliver(completion, None, error(self._native, ASYNC_UNREGISTERED))
