# The synchronous surface: loading, the commands and what their failures raise.
import zlib

import pytest

from kv4usbcp import InvalidPort, Kv4Error, LibraryNotFound, MonitorError, PortClosed, Region, Timeout, _native, sim


def test_a_missing_library_names_every_path_tried(monkeypatch, tmp_path):
    monkeypatch.setenv("KV4USBCP_TEST_LIBRARY", str(tmp_path / "libnothing.so"))
    with pytest.raises(LibraryNotFound) as failure:
        _native.load("NOTHING.dll", "libkv4usbcp_nothing.so.3", "kv4usbcp_nothing", "KV4USBCP_TEST_LIBRARY")
    message = str(failure.value)
    assert "_native" in message and "libnothing.so (no such file)" in message
    assert "libkv4usbcp_nothing.so.3" in message and "KV4USBCP_TEST_LIBRARY" in message


def test_commands_carry_what_the_monitor_holds(lib):
    monitor = sim.attach(serial="QA-7", fw_version="FW 2", product_id=0x42)
    port, = lib.find_monitors("Quillon5")
    assert (port.serial, port.firmware, port.hardware, port.loader) == ("QA-7", "FW 2", "SIM-HW A", "SIM-BL 1.00")
    assert port.max_report_size == 500 and lib.version == (3, 2)
    monitor.set_status_word(0x81020304)
    assert port.status() == 0x81020304
    assert port.command(b"\x0c", length=19) == bytes.fromhex("81020304") + bytes(15)
    monitor.set_update_status(7, 9)
    monitor.set_update_status(0x10000, 3, v3=True)
    assert port.update_status() == (7, 9) and port.update_status(v3=True) == (0x10000, 3)
    image = bytes(range(256)) * 4
    monitor.write_memory(Region.FLASH, 0x100, image)
    assert port.image_crc(0x100, len(image)) == zlib.crc32(image)
    monitor.clear_wire()
    port.echo(b"ping")
    port.set_feature(0xBEEF)
    wire = monitor.wire()
    assert (wire[0].kind, wire[0].data[1:6]) == (sim.WIRE_OUTPUT, b"\x0aping")
    assert (wire[-1].kind, wire[-1].data[1:3]) == (sim.WIRE_FEATURE, b"\xbe\xef")


def test_failures_raise_the_class_of_their_meaning(lib):
    monitor = sim.attach()
    port, = lib.find_monitors("Quillon5")
    with pytest.raises(InvalidPort):
        lib.port(7).status()
    monitor.set_status_word(0x00001234)  # a status byte of 0 reads as the monitor's refusal
    with pytest.raises(MonitorError) as refused:
        port.status()
    assert refused.value.code == 0x12
    with pytest.raises(MonitorError) as refused:
        port.read(Region.EEPROM, 0x1FFF, 2)
    assert (refused.value.code, refused.value.name) == (sim.ERR_OUT_OF_RANGE, "TKCSAFE_DATATAB_INVALID_ADDRESS")
    with pytest.raises(Kv4Error) as too_long:
        port.echo(bytes(505))
    assert type(too_long.value) is Kv4Error and too_long.value.name == "TKUSB_TOOLONG_REPORT_ERR"
    monitor.set_fault(sim.FAULT_NO_ANSWER)
    with pytest.raises(Timeout):
        port.command(b"\x0c", timeout=50)
    monitor.set_fault(sim.FAULT_NO_ANSWER, False)
    port.reset()  # leaves the late answer behind
    monitor.detach()
    with pytest.raises(PortClosed):
        port.status()
    with pytest.raises(PortClosed) as closed:
        port.status()
    assert closed.value.name == "TKUSB_DEVICE_CLOSED_ERR"
    monitor.reattach()
    port.reset()
    monitor.set_status_word(0x01000000)
    assert port.status() == 0x01000000
