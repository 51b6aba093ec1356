"""KV4USBCP for Python: KV4 fitness monitors on USB, through the native library and ctypes.

    from kv4usbcp import Library
    with Library() as lib:
        for port in lib.find_monitors("Quillon5"):
            print(port.number, port.serial, hex(port.status()))

kv4usbcp.sim runs the same surface on simulated monitors.
"""
from ._native import LibraryNotFound
from .errors import InvalidPort, Kv4Error, MonitorError, PortClosed, Timeout
from .events import Connected, Disconnected, Event, Subscription, VolumeArrived, VolumeRemoved
from .library import Library, Port, Region

__version__ = "3.2.0"
__all__ = ["Library", "Port", "Region", "Kv4Error", "PortClosed", "Timeout", "InvalidPort", "MonitorError",
           "LibraryNotFound", "Connected", "Disconnected", "VolumeArrived", "VolumeRemoved", "Event",
           "Subscription"]
