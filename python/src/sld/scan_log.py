"""The scan log: every device instruction scan and data scan the library
issued, as records with their fields decoded."""

from __future__ import annotations

import ctypes
import enum
from ctypes import POINTER, byref
from dataclasses import dataclass
from typing import Iterator, List, Optional

from ._capi import LOG_RECORD, api


class LogKind(enum.IntEnum):
    IR = 0  # a device instruction scan
    DR = 1  # a data scan


_INSTRUCTION_NAMES = {14: "select virtual instruction register", 12: "select virtual data register"}


@dataclass(frozen=True)
class LogRecord:
    """One scan. IR records have instruction (14 or 12) and its name; DR
    records have length and the bits written as data (bytes, scan bit j in
    bit j % 8 of byte j // 8) and bits (the same as an int), or None for both
    when nothing was written. number counts from 1 in the log."""

    number: int
    kind: LogKind
    instruction: Optional[int] = None
    instruction_name: Optional[str] = None
    length: Optional[int] = None
    data: Optional[bytes] = None

    @property
    def bits(self) -> Optional[int]:
        return None if self.data is None else int.from_bytes(self.data, "little")


def enable() -> None:
    """Starts recording scans; records already there stay."""
    api().sld_enable_scx_log()


def disable() -> None:
    """Stops recording; the records stay."""
    api().sld_disable_scx_log()


def clear() -> None:
    """Frees every record (waits for running scans)."""
    api().sld_clear_scx_log()


def _decode(number: int, record: LOG_RECORD) -> LogRecord:
    if record.kind == LogKind.IR:
        return LogRecord(number, LogKind.IR, instruction=record.value,
                         instruction_name=_INSTRUCTION_NAMES.get(record.value))
    data = ctypes.string_at(record.data, (record.value + 7) // 8) if record.data else None
    return LogRecord(number, LogKind.DR, length=record.value, data=data)


def records() -> Iterator[LogRecord]:
    """The records in the order of the scans. The log is copied at once, so
    the iterator stays valid when it is cleared; take it while no other
    thread scans or clears it (the library's list has no lock of its own)."""
    head = POINTER(LOG_RECORD)()
    api().sld_get_scx_log_head(byref(head))
    copied: List[LogRecord] = []
    current = head
    while current:
        copied.append(_decode(len(copied) + 1, current.contents))
        current = current.contents.next
    return iter(copied)
