"""Device events: monitors and volumes that arrive and leave.

The library lets one event callback be registered at a time; the host's subscribers share it here.
It is registered while anyone listens and unregistered when the last one stops.
"""
from __future__ import annotations

import asyncio
import logging
import sys
import threading
from dataclasses import dataclass
from typing import Any, Callable, List, Optional, Union

from . import _native
from ._exchanges import kept, release
from .errors import error

log = logging.getLogger("kv4usbcp")
_TEXT_ENCODING = "mbcs" if sys.platform == "win32" else "utf-8"


@dataclass(frozen=True)
class Connected:
    """A monitor arrived; its port is open."""
    port: int
    product: str
    serial: str
    product_id: int


@dataclass(frozen=True)
class Disconnected:
    """A monitor left; its port closes once every subscriber has been told."""
    port: int
    product: str
    serial: str
    product_id: int


@dataclass(frozen=True)
class VolumeArrived:
    """A disk volume arrived (Windows). letter is None for the drives Q: to Z:, which the library
    does not name."""
    letter: Optional[str]
    label: str


@dataclass(frozen=True)
class VolumeRemoved:
    """A disk volume left (Windows); letter as for VolumeArrived."""
    letter: Optional[str]
    label: str


Event = Union[Connected, Disconnected, VolumeArrived, VolumeRemoved]
Subscriber = Callable[[Event], None]


def _text(value: Optional[bytes]) -> str:
    return value.decode(_TEXT_ENCODING, "replace") if value else ""


def _event(port: int, code: int, product: Optional[bytes], serial: Optional[bytes], product_id: int) -> Optional[Event]:
    if code in (1, 2):
        kind = Connected if code == 1 else Disconnected
        return kind(port, _text(product), _text(serial), product_id)
    if code in (3, 4):
        # For volumes the port carries the unit mask of drives A: to P:, the text the label.
        letter = chr(ord("A") + (port & -port).bit_length() - 1) if port else None
        return (VolumeArrived if code == 3 else VolumeRemoved)(letter, _text(product))
    return None


class Subscription:
    """A registered subscriber; close() (or leaving the with block) unsubscribes it."""

    def __init__(self, hub: "EventHub", subscriber: Subscriber) -> None:
        self._hub = hub
        self._subscriber = subscriber

    def close(self) -> None:
        self._hub.unsubscribe(self._subscriber)

    def __enter__(self) -> "Subscription":
        return self

    def __exit__(self, *_: Any) -> None:
        self.close()


class EventHub:
    def __init__(self, native: Any) -> None:
        self._native = native
        # Re-entrant: a collected EventStream unsubscribes from whatever thread collects it, which may
        # be one inside subscribe().
        self._lock = threading.RLock()
        self._subscribers: List[Subscriber] = []
        self._callback: Optional[Any] = None

    def subscribe(self, subscriber: Subscriber) -> Subscription:
        """Calls subscriber(event) for every event, on the library's notification thread, until
        the subscription is closed. Registering first reports the monitors attached and not yet
        open as arrivals."""
        with self._lock:
            self._subscribers = self._subscribers + [subscriber]
            if self._callback is None:
                callback = _native.EventCallback3(self._heard)
                code = self._native.register_events3(callback)
                if code:
                    self._subscribers = self._subscribers[:-1]
                    raise error(self._native, code)
                self._callback = callback
                kept.append(callback)
        return Subscription(self, subscriber)

    def unsubscribe(self, subscriber: Subscriber) -> None:
        with self._lock:
            if subscriber not in self._subscribers:
                return
            self._subscribers = [s for s in self._subscribers if s is not subscriber]
            if self._subscribers or self._callback is None:
                return
            callback, self._callback = self._callback, None
            release(callback, self._native.unregister_events3())

    def close(self) -> None:
        for subscriber in list(self._subscribers):
            self.unsubscribe(subscriber)

    def _heard(self, port: int, code: int, product: Optional[bytes], serial: Optional[bytes], product_id: int) -> None:
        try:
            event = _event(port, code, product, serial, product_id)
        except BaseException:
            log.exception("reading event %d failed", code)
            return
        if event is None:
            return
        for subscriber in self._subscribers:
            try:
                subscriber(event)
            except BaseException:  # nothing may reach the library's thread
                log.exception("an event subscriber raised on %r", event)


class EventStream:
    """The events as an asynchronous iterator on the running loop, subscribed from its making until
    it is closed (aclose(), the end of an ``async with`` block, or the iterator's collection, as after
    a ``break``)."""

    def __init__(self, hub: EventHub) -> None:
        loop = asyncio.get_running_loop()
        queue: "asyncio.Queue[Event]" = asyncio.Queue()
        self._queue = queue
        # The subscriber holds the queue, not the stream, so that a dropped stream is collected.
        self._subscription: Optional[Subscription] = hub.subscribe(
            lambda event: loop.call_soon_threadsafe(queue.put_nowait, event))

    def __aiter__(self) -> "EventStream":
        return self

    async def __anext__(self) -> Event:
        if self._subscription is None:
            raise StopAsyncIteration
        return await self._queue.get()

    def close(self) -> None:
        subscription, self._subscription = self._subscription, None
        if subscription is not None:
            subscription.close()

    async def aclose(self) -> None:
        self.close()

    async def __aenter__(self) -> "EventStream":
        return self

    async def __aexit__(self, *_: Any) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            self.close()
        except Exception:  # during the interpreter's shutdown the library may be gone already
            pass
