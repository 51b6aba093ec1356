"""The library and its ports."""
from __future__ import annotations

import asyncio
import contextlib
import ctypes
import sys
from ctypes import byref, c_uint8, c_uint16, c_uint32
from enum import IntEnum
from typing import Any, Callable, Iterator, List, Optional, Tuple

from . import _native
from ._exchanges import Completion, Exchanges
from .errors import check
from .events import EventHub, EventStream, Subscriber, Subscription

Progress = Callable[[int, int], None]
_TEXT_ENCODING = "mbcs" if sys.platform == "win32" else "utf-8"
_SERVICE_TIMEOUT_MS = 1000


class Region(IntEnum):
    """The monitor's memories, as the memory helpers name them."""
    FLASH = 0      # written and read in 16-bit words
    SPI_FLASH = 1
    RAM = 2
    EEPROM = 3     # addressed by the low 16 bits only


class Library:
    """The native library, started on entering the with block and shut down on leaving it.

    exchange_timeout (milliseconds) bounds every asynchronous exchange."""

    def __init__(self, exchange_timeout: int = 1000, native: Optional[_native.Native] = None) -> None:
        self.native = native or _native.production()
        self._exchanges = Exchanges(self.native, exchange_timeout)
        self._events = EventHub(self.native)

    def __enter__(self) -> "Library":
        self.start()
        return self

    def __exit__(self, *_: Any) -> None:
        self.close()

    def start(self) -> None:
        """Starts the library; port numbering restarts at 0."""
        check(self.native, self.native.init())

    def close(self) -> None:
        """Ends the exchanges' and events' registrations, then closes and forgets every port."""
        self._exchanges.close()
        self._events.close()
        self.native.shutdown_all()

    @property
    def version(self) -> Tuple[int, int]:
        """The native library's (major, minor) version."""
        version = self.native.get_dll_version()
        return version >> 8, version & 0xFF

    def find_monitors(self, filter: str = "") -> List["Port"]:
        """Opens the monitors whose product name contains filter (case-sensitive) and returns every
        open monitor's port."""
        count = c_uint8()
        ports = (c_uint16 * 255)()
        check(self.native, self.native.find_devices(filter.encode(_TEXT_ENCODING), byref(count), ports))
        return [Port(self, ports[i]) for i in range(count.value)]

    def port(self, number: int) -> "Port":
        """The port of that number, as find_monitors or an event handed it out."""
        return Port(self, number)

    @contextlib.contextmanager
    def lock(self) -> Iterator[None]:
        """Holds off the other threads' port operations (and the library's threads) for the block."""
        check(self.native, self.native.lock())
        try:
            yield
        finally:
            self.native.unlock()

    def subscribe(self, subscriber: Subscriber) -> Subscription:
        """Calls subscriber(event) on the library's notification thread for each device event until
        the returned subscription is closed; what it raises is logged."""
        return self._events.subscribe(subscriber)

    def events(self) -> EventStream:
        """The device events from now on, as an asynchronous iterator on the running loop (see
        EventStream for when the subscription ends)."""
        return EventStream(self._events)


def _text_query(function_name: str, doc: str) -> property:
    def query(self: "Port") -> str:
        text = ctypes.create_string_buffer(64)
        self._check(getattr(self._native, function_name)(self.number, text, 63))
        return text.value.decode(_TEXT_ENCODING, "replace")
    query.__doc__ = doc
    return property(query)


class Port:
    """One monitor's port; its number stays the monitor's until the library is shut down."""

    def __init__(self, library: Library, number: int) -> None:
        self.library = library
        self.number = number
        self._native = library.native

    def __repr__(self) -> str:
        return f"Port({self.number})"

    def __eq__(self, other: object) -> bool:
        return isinstance(other, Port) and (other.library, other.number) == (self.library, self.number)

    def __hash__(self) -> int:
        return hash(self.number)

    def _check(self, code: int) -> None:
        check(self._native, code)

    serial = _text_query("serial_number", "The monitor's serial number.")
    firmware = _text_query("fw_version", "The monitor's firmware version.")
    hardware = _text_query("hw_version", "The monitor's hardware version.")
    loader = _text_query("loader_fw_version", "The monitor's boot-loader version.")

    @property
    def max_report_size(self) -> int:
        """The largest report payload of the port (at most 500), which sizes the memory blocks."""
        size = c_uint16()
        self._check(self._native.max_report_size(self.number, byref(size)))
        return size.value

    @property
    def buffer_mode(self) -> int:
        """Which length chooses a transaction's output report: 1 the command's, 2 the response's."""
        mode = c_uint8()
        self._check(self._native.get_buffer_mode(self.number, byref(mode)))
        return mode.value

    def close(self) -> None:
        """Closes the port; reset() or find_monitors opens it again."""
        self._check(self._native.shutdown(self.number))

    def reset(self) -> None:
        """Closes the port and opens its monitor again, leaving any late answer behind."""
        self._check(self._native.reset_port(self.number))

    def status(self) -> int:
        """The monitor's 32-bit status word."""
        word = c_uint32()
        self._check(self._native.status(self.number, byref(word)))
        return word.value

    def echo(self, data: bytes) -> None:
        """Sends data to the monitor to be echoed (at most 499 bytes on 500-byte reports)."""
        self._check(self._native.echo(self.number, bytes(data), len(data)))

    def special(self, argument1: int, argument2: int) -> int:
        """Runs the monitor's special command and returns its 32-bit answer."""
        value = c_uint32()
        self._check(self._native.special(self.number, argument1, argument2, byref(value)))
        return value.value

    def command(self, frame: bytes, timeout: int = _SERVICE_TIMEOUT_MS, length: Optional[int] = None,
                ddi: bool = False) -> bytes:
        """Sends a frame of the host's making and returns the answer, status byte first.

        length: the answer bytes wanted (default: the largest report's); one byte fewer arrive when
        it equals a report's size. timeout in milliseconds, for the write and again for the read.
        ddi: set the port's buffer mode to the response's first, as tkcmdsetUSB_do_DDIcommand does."""
        wanted = length if length is not None else max(self.max_report_size, 3)
        response = ctypes.create_string_buffer(max(wanted, 3))
        delivered = c_uint16(wanted)
        run = self._native.do_DDIcommand if ddi else self._native.do_command
        self._check(run(self.number, bytes(frame), len(frame), response, byref(delivered), timeout))
        return response.raw[: delivered.value]

    def set_feature(self, value: int) -> None:
        """Sends the 16-bit value in a feature report."""
        self._check(self._native.set_feature(self.number, value, 0))

    def image_crc(self, address: int, length: int) -> int:
        """The monitor's CRC of the firmware image region [address, address + length)."""
        crc = c_uint32()
        self._check(self._native.get_image_crc(self.number, address, byref(crc), length, byref(c_uint16(5))))
        return crc.value

    def update_status(self, v3: bool = False) -> Tuple[int, int]:
        """The firmware update status (the third generation's with v3), as its two values."""
        record: Any = _native.V3UpdateStatus() if v3 else _native.UpdateStatus()
        run = self._native.get_V3_update_status if v3 else self._native.get_update_status
        self._check(run(self.number, byref(record), byref(c_uint16(7 if v3 else 5))))
        return record.first_value, record.second_value

    # ---- Memory helpers ----------------------------------------------------------------------------

    def _block_sizes(self, region: Region) -> Tuple[int, int]:
        """(write, read) block sizes in bytes: what one report carries, whole words for the flash."""
        largest = min(self.max_report_size, 500)
        write = (largest - (7 if region == Region.EEPROM else 9)) & ~1
        read = largest - 2
        if region == Region.FLASH:
            read &= ~1
        if write <= 0 or read <= 0:
            raise ValueError(f"port {self.number} has no report large enough for a memory block")
        return write, read

    def read(self, region: Region, address: int, length: int, progress: Optional[Progress] = None) -> bytes:
        """Reads length bytes from address of region in the largest blocks the port allows; calls
        progress(done, total) after each. The flash is read in whole words."""
        if region == Region.FLASH and (address | length) & 1:
            start = address & ~1
            words = self.read(region, start, (address + length + 1 - start) & ~1, progress)
            return words[address - start: address - start + length]
        block = self._block_sizes(region)[1]
        data = bytearray()
        for offset in range(0, length, block):
            data += self._read_block(region, address + offset, min(block, length - offset))
            if progress:
                progress(len(data), length)
        return bytes(data)

    def write(self, region: Region, address: int, data: bytes, progress: Optional[Progress] = None) -> None:
        """Writes data at address of region in the largest blocks the port allows; calls
        progress(done, total) after each. A flash write at an odd address or of an odd length keeps
        the other byte of its edge words as the monitor holds it."""
        data = bytes(data)
        if region == Region.FLASH and address & 1:
            data = self.read(region, address - 1, 1) + data
            address -= 1
        if region == Region.FLASH and len(data) & 1:
            data += self.read(region, address + len(data), 1)
        block = self._block_sizes(region)[0]
        for offset in range(0, len(data), block):
            self._write_block(region, address + offset, data[offset: offset + block])
            if progress:
                progress(min(offset + block, len(data)), len(data))

    def _read_block(self, region: Region, address: int, count: int) -> bytes:
        data = ctypes.create_string_buffer(count)
        wanted = c_uint16(count + 1)
        if region == Region.FLASH:
            code = self._native.read_flashblk16(self.number, address, data, count // 2, byref(wanted))
        else:
            run = {Region.SPI_FLASH: self._native.read_spiflashblk8, Region.RAM: self._native.read_memblk8,
                   Region.EEPROM: self._native.read_eeblk8}[region]
            code = run(self.number, address, data, count, byref(wanted))
        self._check(code)
        return data.raw

    def _write_block(self, region: Region, address: int, block: bytes) -> None:
        wanted = c_uint16(3)
        count = len(block) // 2 if region == Region.FLASH else len(block)
        run = {Region.FLASH: self._native.write_flashblk16, Region.SPI_FLASH: self._native.write_spiflashblk8,
               Region.RAM: self._native.write_memblk8, Region.EEPROM: self._native.write_eeblk8}[region]
        self._check(run(self.number, address, block, count, byref(wanted)))

    # ---- Asynchronous exchanges --------------------------------------------------------------------

    def send(self, frame: bytes, completion: Completion) -> None:
        """Queues frame; completion(answer, None) or completion(None, exception) follows once, on the
        library's I/O thread. The answer is the smallest input report holding the frame, less one
        byte (pad the frame for a longer one); a monitor's refusal comes as MonitorError."""
        self.library._exchanges.send(self.number, frame, completion)

    async def exchange(self, frame: bytes) -> bytes:
        """The answer to frame, as send() gives it, awaited on the running loop."""
        loop = asyncio.get_running_loop()
        future: "asyncio.Future[bytes]" = loop.create_future()

        def settle(answer: Optional[bytes], failure: Optional[BaseException]) -> None:
            if not future.done():
                if failure is not None:
                    future.set_exception(failure)
                else:
                    future.set_result(answer or b"")

        self.send(frame, lambda answer, failure: loop.call_soon_threadsafe(settle, answer, failure))
        return await future
