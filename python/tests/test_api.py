"""Documented behaviour of the library API on the default board."""

import pytest

import sld
from sld import _capi, sim

CABLE = "SimCable-1"


@pytest.fixture
def hub():
    with sld.open_hub(CABLE, "@1") as opened:
        yield opened


@pytest.fixture
def memory(hub):
    with hub.open_node(0) as node:
        yield node


@pytest.fixture
def library_calls(monkeypatch):
    """Records every sld_ call made from now on."""
    calls = []
    api = _capi.api()
    for name in _capi._SLD_PROTOTYPES:
        real = getattr(api, name)
        monkeypatch.setattr(api, name, lambda *args, _real=real, _name=name: calls.append(_name) or _real(*args))
    return calls


BAD_INPUT = [
    (lambda h, n: sld.open_hub(5, "@1"), TypeError, "cable must be a str"),
    (lambda h, n: sld.open_hub(CABLE, 1), TypeError, "device must be a str"),
    (lambda h, n: sld.open_hub("Sim\0Cable", "@1"), ValueError, "NUL"),
    (lambda h, n: h.open_node(-1), ValueError, "node index"),
    (lambda h, n: h.open_node(256), ValueError, "node index"),
    (lambda h, n: h.open_node(1.5), TypeError, "node must be"),
    (lambda h, n: h.open_node("id:x"), ValueError, "node id"),
    (lambda h, n: h.open_node("0x100"), ValueError, "node index"),
    (lambda h, n: h.lock(timeout=1.5), TypeError, "time-out"),
    (lambda h, n: n.ir(-1), ValueError, "instruction"),
    (lambda h, n: n.ir(1 << 64), ValueError, "instruction"),
    (lambda h, n: n.ir(True), TypeError, "instruction"),
    (lambda h, n: n.ir(1, capture=1), TypeError, "capture"),
    (lambda h, n: n.dr(0), ValueError, "scan length"),
    (lambda h, n: n.dr(sld._convert.MAX_SCAN_BITS + 1), ValueError, "scan length"),
    (lambda h, n: n.dr(8, 256), ValueError, "longer than the 8-bit scan"),
    (lambda h, n: n.dr(8, -1), ValueError, "negative"),
    (lambda h, n: n.dr(8, b"\0\0"), ValueError, "beyond the 8-bit scan"),
    (lambda h, n: n.dr(4, b"\x10"), ValueError, "beyond the 4-bit scan"),
    (lambda h, n: n.dr(8, "ff"), TypeError, "int or bytes"),
    (lambda h, n: n.dr(8, read=None), TypeError, "read"),
    (lambda h, n: n.batch("ir 1"), TypeError, "sequence"),
    (lambda h, n: n.batch([("ir", 1)]), TypeError, "sld.Ir or sld.Dr"),
    (lambda h, n: n.batch([sld.Ir(1), sld.Dr(8, 0x100)]), ValueError, "longer than"),
    (lambda h, n: n.rti(-5), ValueError, "run-test-idle"),
    (lambda h, n: n.delay("x"), TypeError, "delay"),
    (lambda h, n: n.lock(timeout=-1), ValueError, "time-out"),
]


@pytest.mark.parametrize("call, error, message", BAD_INPUT)
def test_bad_input_raises_before_the_library(hub, memory, library_calls, call, error, message):
    scx_calls = sim.call_count()
    with pytest.raises(error, match=message):
        call(hub, memory)
    assert library_calls == [] and sim.call_count() == scx_calls


def test_closed_objects_refuse_use(library_calls):
    with sld.open_hub(CABLE, "@1") as hub:
        node = hub.open_node(0)
    assert hub.closed and node.closed  # closing the hub closed its node
    calls = len(library_calls)
    for use in (lambda: node.ir(1), lambda: node.dr(8), lambda: hub.nodes, lambda: hub.broadcast(),
                lambda: hub.lock().__enter__(), lambda: node.lock().__enter__(), lambda: hub.id):
        with pytest.raises(ValueError, match="closed"):
            use()
    hub.close(), node.close()  # closing again does nothing
    assert len(library_calls) == calls


@pytest.mark.parametrize("cable, device, name, call", [
    (CABLE, "@2", "SLD_HUB_NOT_FOUND", "sld_hub_open"),
    (CABLE, "@3", "SLD_UNSUPPORTED_HUB", "sld_hub_open"),
    (CABLE, "@9", "SLD_DEVICE_NOT_FOUND", "sld_get_device"),
    ("NoSuchCable", "@1", "SLD_HARDWARE_NOT_FOUND", "sld_get_device"),
])
def test_failing_status_raises_sld_error(cable, device, name, call):
    with pytest.raises(sld.SldError) as caught:
        sld.open_hub(cable, device)
    error = caught.value
    assert (error.name, error.call, sld.Status(error.status).name) == (name, call, name)
    assert str(error).startswith(call) and name in str(error) and error.sentence in str(error)


def test_int_and_bytes_follow_the_scan_bit_order(memory):
    # Device side: bit i of a memory word is scan bit i.
    sim.memory_poke(1, 0, 0, 7, 0x12345678)
    memory.batch([sld.Ir(1), sld.Dr(8, 7), sld.Ir(3)])
    assert memory.dr(32, b"\0\0\0\0") == b"\x78\x56\x34\x12"
    memory.batch([sld.Ir(1), sld.Dr(8, 8), sld.Ir(2)])
    memory.dr(32, b"\xef\xbe\xad\xde", read=False)
    memory.dr(32, 0xCAFE, read=False)
    assert [sim.memory_peek(1, 0, 0, a) for a in (7, 8, 9)] == [0x12345678, 0xDEADBEEF, 0xCAFE]


def test_lock_block_releases_and_keeps_the_blocks_error(hub, memory):
    with pytest.raises(RuntimeError, match="body"):
        with memory.lock(timeout=1000):
            assert sim.device_locked(1, 0)
            raise RuntimeError("body")
    assert not sim.device_locked(1, 0)


@pytest.mark.parametrize("body_raises", [True, False])
def test_failing_unlock_is_a_note_on_the_blocks_error_or_raised(body_raises):
    # The faulted unlock leaves the simulated device locked: a hub of its own.
    with sld.open_hub(CABLE, "@1") as hub:
        sim.fail_call("unlock", 1, 99)
        with pytest.raises(RuntimeError if body_raises else sld.SldError) as caught:
            with hub.lock():
                if body_raises:
                    raise RuntimeError("body")
    text = caught.value.__notes__[0] if body_raises else str(caught.value)
    assert "sld_hub_unlock" in text and "SLD_JTAG_ERROR" in text


def test_broadcast_block_sends_its_queue_also_on_error(hub, memory):
    shift = hub.open_node(3)
    with hub.lock():
        with pytest.raises(RuntimeError):
            with hub.broadcast():
                memory.ir(2)
                shift.ir(1)
                with pytest.raises(ValueError, match="queued"):
                    memory.ir(3, capture=True)
                raise RuntimeError("body")
        assert not sim.device_locked(1, 0)  # ending released the lock held around it
    assert [sim.node_instruction(1, 0, i) for i in (0, 3)] == [2, 1]
    with hub.broadcast():  # the broadcast did end
        with pytest.raises(sld.SldError, match="SLD_NODE_ALREADY_QUEUED"):
            memory.ir(1), memory.ir(1)


def test_scan_log_records_are_decoded(hub):
    sld.enable_scan_log()
    with hub.open_node(2) as probe:
        probe.ir(2)
        probe.dr(12, 0xABC)
    sld.disable_scan_log()
    probe_address = 3  # node index 2 + 1, above the 8-bit instruction
    records = [(r.kind.name, r.instruction, r.instruction_name, r.length, r.bits) for r in sld.scan_log()]
    assert records == [
        ("IR", 14, "select virtual instruction register", None, None),
        ("DR", None, None, 11, probe_address << 8 | 2),
        ("IR", 12, "select virtual data register", None, None),
        ("DR", None, None, 12, 0xABC),
    ]
    taken = sld.scan_log()
    sld.clear_scan_log()
    assert [r.number for r in taken] == [1, 2, 3, 4] and list(sld.scan_log()) == []


def test_stale_ids_raise_and_still_close(hub, memory):
    sim.remove_device(1, 0)
    sld.devices(CABLE)  # the library reads the changed chain
    with pytest.raises(sld.SldError) as caught:
        memory.ir(1)
    assert caught.value.status == sld.Status.SLD_STALE_ID


def test_raw_device_handle_excludes_hubs():
    with sld.open_hub(CABLE, "@1"):
        with pytest.raises(sld.SldError, match="SLD_ALREADY_LOCKED"):
            sld.open_scx_device(CABLE, "@1")
    with sld.open_scx_device(CABLE, sld.devices(CABLE)[0]) as raw:
        assert raw.handle != 0 and sim.open_handle_count(1) == 1
    assert raw.closed and sim.open_handle_count(1) == 0


def test_cables_carry_names_and_ids():
    cables = sld.cables()
    assert [(c.name, c.full_name, c.persistent_id) for c in cables] == [
        ("SimCable-1", "SimCable-1 [sim:1]", 1), ("SimCable-2", "SimCable-2 [sim:2]", 2)]
    assert sld.hardware_name(2) == "SimCable-2" and sld.persistent_id("SimCable-1 [sim:1]") == 1
    device = cables[1].devices()[0]
    assert (device.position, device.name, device.idcode) == (1, "SIM-FPGA-B", 0x02B150DD)


def test_flush_and_delay_need_the_lock(hub, memory):
    for call in (memory.flush, lambda: memory.delay(10)):
        with pytest.raises(sld.SldError, match="SLD_NOT_LOCKED"):
            call()
    with memory.lock():
        memory.flush(), memory.delay(10), memory.rti(5)
    assert sim.trace("run_test_idle")[-1] == "run_test_idle(5)=0" and hub.scx_handle != 0
