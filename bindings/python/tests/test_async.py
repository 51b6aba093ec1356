# Asynchronous exchanges, device events and the host's callbacks, as the library's threads run them.
import asyncio
import gc
import threading

import pytest

from kv4usbcp import Connected, Disconnected, MonitorError, PortClosed, Timeout, VolumeArrived, VolumeRemoved, sim

STATUS = b"\x0c"


async def test_concurrent_exchanges_on_many_monitors_each_resolve_once_with_their_answer(lib):
    monitors = [sim.attach() for _ in range(8)]
    for monitor in monitors:
        monitor.set_responder(lambda frame: b"\x01" + frame[:3])
    ports = lib.find_monitors("Quillon5")
    frames = [bytes([0x70, port.number, i]) for i in range(2) for port in ports]
    answers = await asyncio.gather(*(lib.port(frame[1]).exchange(frame) for frame in frames))
    assert [answer[1:4] for answer in answers] == frames
    assert all(sum(e.kind == sim.WIRE_OUTPUT for e in monitor.wire()) == 2 for monitor in monitors)


async def test_failed_exchanges_raise_and_the_port_goes_on(lib):
    monitor = sim.attach()
    port, = lib.find_monitors("Quillon5")
    refused, answered = await asyncio.gather(port.exchange(b"\x7f"), port.exchange(STATUS), return_exceptions=True)
    assert isinstance(refused, MonitorError) and refused.code == sim.ERR_UNKNOWN_COMMAND and answered[0] == 1
    monitor.detach()
    gone = await asyncio.gather(port.exchange(STATUS), port.exchange(STATUS), return_exceptions=True)
    assert [type(failure) for failure in gone] == [PortClosed, PortClosed]


async def test_events_arrive_for_an_unplug_and_a_replug(lib):
    monitor = sim.attach(serial="FLOOR-1", product_id=0x77)
    port, = lib.find_monitors("Quillon5")
    async with lib.events() as events:
        monitor.detach()
        assert await anext(events) == Disconnected(0, "KV4 Quillon5 Monitor", "FLOOR-1", 0x77)
        monitor.reattach()
        assert await anext(events) == Connected(0, "KV4 Quillon5 Monitor", "FLOOR-1", 0x77)
        sim.announce_volume(0x10, True, label="DATA")
        sim.announce_volume(1 << 17, False)
        assert [await anext(events), await anext(events)] == [VolumeArrived("E", "DATA"), VolumeRemoved(None, "")]
    assert port.status() == 0x01000000
    lib.subscribe(print).close()  # registering again works: the iteration's end unregistered


async def eventually(condition, seconds=20.0):
    for _ in range(int(seconds * 100)):
        if condition():
            return
        await asyncio.sleep(0.01)
    raise AssertionError("gave up waiting")


async def test_a_raising_callback_is_logged_and_the_library_goes_on(lib, caplog):
    monitor = sim.attach()
    port, = lib.find_monitors("Quillon5")

    def host_bug(*_):
        raise RuntimeError("host bug")

    with lib.subscribe(host_bug):
        monitor.detach()
        monitor.reattach()
        port.send(STATUS, host_bug)
        # the exchange, the unplug and then the replug (an arrival broadcast late for the attach may
        # come first)
        def raised():
            return " ".join(r.getMessage() for r in caplog.records if "host bug" in (r.exc_text or ""))
        await eventually(lambda: "completion callback" in raised()
                         and raised().rfind("on Connected") > raised().find("on Disconnected") >= 0)
    monitor.set_responder(host_bug)  # no answer comes
    with pytest.raises(Timeout):
        await port.exchange(b"\x70")
    assert await port.exchange(STATUS) and port.status() == 0x01000000


async def test_garbage_collection_during_exchanges_and_events_does_not_crash(lib):
    monitors = [sim.attach() for _ in range(4)]
    ports = lib.find_monitors("Quillon5")
    stop = threading.Event()
    collector = threading.Thread(target=lambda: [gc.collect() for _ in iter(stop.is_set, True)])
    collector.start()
    try:
        async with lib.events() as events:
            for round in range(40):
                monitors[round % 4].detach()
                monitors[round % 4].reattach()
                results = await asyncio.gather(*(port.exchange(STATUS) for port in ports), return_exceptions=True)
                assert isinstance(await anext(events), Disconnected) and isinstance(await anext(events), Connected)
                assert sum(isinstance(r, bytes) for r in results) >= 3
    finally:
        stop.set()
        collector.join()
