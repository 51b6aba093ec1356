# The tests run the package on simulated monitors: KV4USBCP_SIM_LIBRARY names this build's
# simulator library, or the package carries one.
from typing import Iterator

import pytest

from kv4usbcp import sim


@pytest.fixture
def lib() -> Iterator[sim.Library]:
    sim.reset()
    with sim.Library() as library:
        yield library
    sim.reset()

