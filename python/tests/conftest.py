import gc
import sys
from pathlib import Path

import pytest

# Runs from the source tree without installing the package.
sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "src"))

import sld  # noqa: E402
from sld import sim  # noqa: E402


@pytest.fixture(autouse=True)
def fresh_world():
    """Every test starts on the default board and must leave no JTAG handle
    open: a leaked hub id shows here."""
    sim.reset()
    sld.disable_scan_log()
    sld.clear_scan_log()
    yield
    gc.collect()
    leaked = sim.open_handle_count()
    sim.reset()
    assert leaked == 0, f"{leaked} JTAG handles left open"
