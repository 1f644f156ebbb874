"""Nodes: virtual IR and DR scans, batches, run-test-idle, flush, delay and
the hub lock through a node.

Scan data is an int or bytes. Bit j of a scan is bit j % 8 of byte j // 8,
and an int's bit 0 is scan bit 0 (the first bit shifted).
"""

from __future__ import annotations

import weakref
from ctypes import addressof, byref, c_ubyte, c_ulong
from dataclasses import dataclass
from typing import TYPE_CHECKING, Callable, List, Optional, Sequence, Union

from . import _convert
from ._capi import BATCH_ACCESS
from ._convert import Bits
from .errors import check
from .locking import HubLock
from ._owner import IdOwner

if TYPE_CHECKING:
    from .hub import Hub, NodeInfo

_BATCH_END, _BATCH_IR, _BATCH_DR = 0, 1, 2


@dataclass(frozen=True)
class Ir:
    """A batch step: a virtual IR scan (see Node.ir)."""

    value: int
    capture: bool = False
    delay: int = 0


@dataclass(frozen=True)
class Dr:
    """A batch step: a virtual DR scan (see Node.dr)."""

    length: int
    data: Optional[Bits] = None
    read: bool = True
    delay: int = 0


Step = Union[Ir, Dr]
Result = Union[int, bytes, None]


def _flag(value: object, what: str) -> bool:
    if not isinstance(value, bool):
        raise TypeError(f"{what} must be a bool, not {type(value).__name__}")
    return value


def _bytes_wanted(data: Optional[Bits]) -> bool:
    return isinstance(data, (bytes, bytearray, memoryview))


class Node(IdOwner):
    """An open node id on one node of a hub; a context manager that closes it.

    Made by Hub.open_node. Scans go through the hub: an IR scan selects the
    node, and a DR scan reaches the node of the hub's last IR scan.
    """

    def __init__(self, hub: "Hub", info: "NodeInfo", node_id: int, ticket: int, release: Callable) -> None:
        self.hub = hub
        self.info = info
        self._id_value = node_id  # 0..511
        self._ticket = ticket
        self._api = hub._api
        self._finalizer = weakref.finalize(self, release, hub._ids, ticket)

    @property
    def index(self) -> int:
        return self.info.index

    @property
    def closed(self) -> bool:
        with self.hub._ids.guard:
            return self._ticket not in self.hub._ids.nodes

    def __repr__(self) -> str:
        return f"<sld.Node {'closed' if self.closed else f'id {self._id_value}'}: {self}>"

    def __str__(self) -> str:
        return f"node {self.info.index} of {self.hub}"

    def close(self) -> None:
        """Gives the node id back (no JTAG traffic); closing twice is harmless."""
        self._finalizer.detach()
        node_id = self.hub._ids.take_node(self._ticket)
        if node_id is not None:
            check(self._api.sld_node_close(node_id), "sld_node_close", str(self))

    def ir(self, value: int, capture: bool = False, delay: int = 0) -> Optional[int]:
        """Virtual IR scan: loads value (masked to the hub's instruction width)
        into the node, as IR 14 and one DR scan carrying the node's address.
        Returns the captured instruction when capture is true (a version-1
        hub then needs one more DR scan). While the hub broadcasts, the value
        is queued instead and nothing is captured. delay: JTAG delay after."""
        value = _convert.unsigned(value, "instruction")
        capture = _flag(capture, "capture")
        delay = _convert.unsigned(delay, "delay")
        node_id = self._open_id()
        if capture and self.hub._ids.broadcasting:
            raise ValueError(f"{self.hub} broadcasts: the instruction is queued and nothing is captured")
        captured = c_ulong()
        self._call("sld_node_access_ir", node_id, value, byref(captured) if capture else None, delay)
        return captured.value if capture else None

    def dr(self, length: int, data: Optional[Bits] = None, read: bool = True, delay: int = 0) -> Result:
        """Virtual DR scan of length bits (IR 12, then the scan) through the
        node the hub's last IR scan selected. data (int or bytes, None for
        no bits written) is shifted in; when read is true the captured bits
        come back, as bytes if data was bytes, else as an int."""
        length = _convert.scan_length(length)
        write = _convert.optional_bits(data, length)
        read = _flag(read, "read")
        delay = _convert.unsigned(delay, "delay")
        node_id = self._open_id()
        size = _convert.byte_length(length)
        write_buffer = (c_ubyte * size).from_buffer_copy(write) if write is not None else None
        read_buffer = (c_ubyte * size)() if read else None
        self._call("sld_node_access_dr", node_id, length, write_buffer, read_buffer, delay)
        if read_buffer is None:
            return None
        return _convert.from_buffer(bytes(read_buffer), length, _bytes_wanted(data))

    def batch(self, steps: Sequence[Step]) -> List[Result]:
        """Runs Ir and Dr steps in one library call (sld_node_batch_access)
        and returns one result per step, as Node.ir and Node.dr would. Every
        step is checked before anything is scanned; the library stops at the
        first failing scan."""
        if isinstance(steps, (str, bytes)) or not isinstance(steps, Sequence):
            raise TypeError(f"steps must be a sequence of sld.Ir and sld.Dr, not {type(steps).__name__}")
        records = (BATCH_ACCESS * (len(steps) + 1))()
        buffers: List[object] = []  # kept alive until the call returns
        readers: List[Callable[[], Result]] = []
        for record, step in zip(records, steps):
            readers.append(self._batch_record(record, step, buffers))
        records[len(steps)].kind = _BATCH_END
        node_id = self._open_id()
        self._call("sld_node_batch_access", node_id, records)
        return [read() for read in readers]

    def _batch_record(self, record: BATCH_ACCESS, step: object, buffers: List[object]) -> Callable[[], Result]:
        if isinstance(step, Ir):
            value = _convert.unsigned(step.value, "instruction")
            capture = _flag(step.capture, "capture")
            if capture and self.hub._ids.broadcasting:
                raise ValueError(f"{self.hub} broadcasts: the instruction is queued and nothing is captured")
            captured = c_ulong()
            buffers.append(captured)
            record.kind, record.write, record.delay = _BATCH_IR, value, _convert.unsigned(step.delay, "delay")
            record.read = addressof(captured) if capture else 0
            return (lambda: captured.value) if capture else (lambda: None)
        if isinstance(step, Dr):
            length = _convert.scan_length(step.length)
            write = _convert.optional_bits(step.data, length)
            read = _flag(step.read, "read")
            size = _convert.byte_length(length)
            record.kind, record.length, record.delay = _BATCH_DR, length, _convert.unsigned(step.delay, "delay")
            if write is not None:
                write_buffer = (c_ubyte * size).from_buffer_copy(write)
                buffers.append(write_buffer)
                record.write = addressof(write_buffer)
            if not read:
                return lambda: None
            read_buffer = (c_ubyte * size)()
            buffers.append(read_buffer)
            record.read = addressof(read_buffer)
            as_bytes = _bytes_wanted(step.data)
            return lambda: _convert.from_buffer(bytes(read_buffer), length, as_bytes)
        raise TypeError(f"a batch step must be sld.Ir or sld.Dr, not {type(step).__name__}")

    def rti(self, count: int) -> None:
        """count run-test-idle cycles on the node's device."""
        count = _convert.unsigned(count, "run-test-idle count")
        self._call("sld_node_rti", self._open_id(), count)

    def flush(self) -> None:
        """Flushes queued JTAG work; needs the hub lock (SLD_NOT_LOCKED)."""
        self._call("sld_node_flush", self._open_id())

    def delay(self, amount: int) -> None:
        """A JTAG delay on the device; needs the hub lock (SLD_NOT_LOCKED)."""
        amount = _convert.unsigned(amount, "delay")
        self._call("sld_node_delay", self._open_id(), amount)

    def lock(self, timeout: int = 6000, manual: bool = False) -> HubLock:
        """The hub lock through this node for a with block (sld_node_lock, or
        sld_node_lock_manual with the JTAG library's manual lock style)."""
        call = "sld_node_lock_manual" if _flag(manual, "manual") else "sld_node_lock"
        return HubLock(self, call, "sld_node_unlock", _convert.unsigned(timeout, "time-out"))
