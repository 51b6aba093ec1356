# The tests run the package on simulated monitors: KV4USBCP_SIM_LIBRARY names this build's
# simulator library, or the package carries one.
from typing import Iterator, List

import pytest

from kv4usbcp import Port, sim


@pytest.fixture
def lib() -> Iterator[sim.Library]:
    sim.reset()
    with sim.Library() as library:
        yield library
    sim.reset()


def plug(lib: sim.Library, count: int = 1, **desc) -> List[Port]:
    for _ in range(count):
        sim.attach(**desc)
    return lib.find_monitors("Quillon5")
