# The memory helpers: the largest blocks the port allows, whole words for the flash.
import pytest

from kv4usbcp import Region, sim

SMALL_REPORTS = [(sim.INPUT, 0x101, 1, 20), (sim.OUTPUT, 0x102, 2, 20)]


@pytest.mark.parametrize("caps", [(), SMALL_REPORTS], ids=["500-byte", "20-byte"])
@pytest.mark.parametrize("region", list(Region))
def test_every_region_round_trips_in_the_largest_blocks_keeping_odd_edges(lib, region, caps):
    monitor = sim.attach(caps=caps)
    port, = lib.find_monitors("Quillon5")
    monitor.write_memory(region, 0x400, b"\xaa" * 1004)
    data = bytes((i * 37 + 11) & 0xFF for i in range(1000))
    writes, reads = [], []
    port.write(region, 0x401, data, progress=lambda done, total: writes.append((done, total)))
    assert monitor.read_memory(region, 0x400, 1004) == b"\xaa" + data + b"\xaa" * 3
    assert port.read(region, 0x401, 1000, progress=lambda done, total: reads.append((done, total))) == data
    write_block = (12 if caps else 492) if region == Region.EEPROM else (10 if caps else 490)
    read_block = 18 if caps else 498
    for calls, block in ((writes, write_block), (reads, read_block)):
        total = calls[-1][1]
        assert [done for done, _ in calls] == [min(n, total) for n in range(block, total + block, block)]
