"""JTAG hardware (cables) and the devices on their chains."""

from __future__ import annotations

import ctypes
import re
from ctypes import POINTER, byref, c_char_p, c_int, c_ulong
from dataclasses import dataclass, field
from typing import TYPE_CHECKING, Any, List, Optional, Tuple, Union

from . import _convert
from ._capi import SCX_HARDWARE, api
from .errors import SldError, Status, check

if TYPE_CHECKING:
    from .hub import Hub

# Time-out of the hardware enumeration for full names (as the library's own).
_QUERY_TIMEOUT = 10000
_SCX_OK = 0
_SCX_PARTIAL_LIST = 2
_SCX_TOO_MANY_DEVICES = 47
_SKIPPED_RECORD_FLAGS = 0x1 | 0x4
# Answers larger than these are broken and not believed.
_MAX_RECORDS = 65536
_MAX_NAME_LENGTH = 65536

_DEVICE_STRING = re.compile(r"@(\d{1,9}): (.*) \(0x([0-9A-Fa-f]{8})\)", re.DOTALL)


def version() -> Tuple[int, int]:
    """The library's version, (major, minor). No JTAG traffic."""
    major, minor = c_int(), c_int()
    check(api().sld_get_version(byref(major), byref(minor)), "sld_get_version")
    return major.value, minor.value


@dataclass(frozen=True)
class Cable:
    """A JTAG hardware: its short name, and its full name and persistent id
    when they could be had (else None)."""

    name: str
    full_name: Optional[str]
    persistent_id: Optional[int]
    #: The name that makes the library act on this cable: the short name when
    #: it finds this cable by it, else the full name; "" when it finds
    #: another cable by both (two cables may share a short name). None: not
    #: asked, the short name is used.
    library_name: Optional[str] = field(default=None, compare=False, repr=False)

    def devices(self) -> List["Device"]:
        """Reads the chain (under the JTAG chain lock) and lists its devices.
        Raises SldError, SLD_DEVICE_NOT_FOUND when the chain has no devices."""
        return devices(self)

    def __str__(self) -> str:
        return self.name


@dataclass(frozen=True)
class Device:
    """A device on a chain, named by its device string "@N: name (0xIDCODE)";
    position (from 1), name and idcode are None if the string has another form."""

    cable: Cable
    string: str
    position: Optional[int]
    name: Optional[str]
    idcode: Optional[int]

    def open_hub(self) -> "Hub":
        """Opens the device's hub (see sld.open_hub): discovery scans."""
        from .hub import open_hub

        return open_hub(self.cable, self)

    def __str__(self) -> str:
        return self.string

    def __repr__(self) -> str:
        idcode = f"0x{self.idcode:08X}" if self.idcode is not None else "None"
        return (f"Device(cable={self.cable.name!r}, string={self.string!r}, position={self.position!r}, "
                f"name={self.name!r}, idcode={idcode})")


CableLike = Union[Cable, str]


def cable_name(cable: object) -> bytes:
    """The name to give the library for a cable given by object or name."""
    if not isinstance(cable, Cable):
        return _convert.text(cable, "cable")
    if cable.library_name == "":
        raise SldError(Status.SLD_HARDWARE_NOT_FOUND, "sld_get_hardware_persistent_id",
                       f"the library finds another cable by each name of {cable.name}")
    return _convert.text(cable.library_name or cable.name, "cable name")


def _copy_names(count: c_ulong, table: Any) -> List[str]:
    # The table is the library's and changes with the next call: copy now.
    names = []
    for i in range(count.value if table else 0):
        if table[i] is None:
            break
        names.append(_convert.decode(table[i]))
    return names


def persistent_id(name: str) -> int:
    """The persistent id of the hardware with that short or full name.
    Rebuilds the hardware list (JTAG enumeration)."""
    raw = _convert.text(name, "cable name")
    value = c_ulong()
    status = api().sld_get_hardware_persistent_id(raw, byref(value))
    # The first lookup after a server renewed a chain fails; the next finds it.
    if status == Status.SLD_HARDWARE_NOT_FOUND:
        status = api().sld_get_hardware_persistent_id(raw, byref(value))
    check(status, "sld_get_hardware_persistent_id", name)
    return value.value


def hardware_name(persistent_id: int) -> str:
    """The short name of the hardware with that persistent id."""
    pid = _convert.unsigned(persistent_id, "persistent id")
    name = c_char_p()
    check(api().sld_get_hardware_name(pid, byref(name)), "sld_get_hardware_name", str(pid))
    return _convert.decode(name.value or b"")


def _chain_full_name(a: Any, chain: int) -> Optional[str]:
    length = c_ulong()
    # A hardware without a name answers otherwise than with the size.
    if a.scx_print_hardware_name(chain, None, 0, True, byref(length)) != _SCX_TOO_MANY_DEVICES:
        return None
    if not 0 < length.value <= _MAX_NAME_LENGTH:
        return None
    buffer = ctypes.create_string_buffer(length.value + 1)
    if a.scx_print_hardware_name(chain, buffer, length.value, True, None) != _SCX_OK:
        return None
    return _convert.decode(buffer.value)


def _client_hardware() -> List[Tuple[int, Optional[str]]]:
    """(persistent id, full name) of each hardware the JTAG client library
    lists, without the records the library skips; [] when it does not answer."""
    a = api()
    count = c_ulong()
    if a.scx_get_hardware(byref(count), None, _QUERY_TIMEOUT) != _SCX_TOO_MANY_DEVICES:
        return []
    if not 0 < count.value <= _MAX_RECORDS:
        return []
    records = (SCX_HARDWARE * count.value)()
    fetched = c_ulong(count.value)
    if a.scx_get_hardware(byref(fetched), records, 0) not in (_SCX_OK, _SCX_PARTIAL_LIST):
        return []
    return [(r.persistent_id, _chain_full_name(a, r.chain) if r.chain else None)
            for r in records[: min(fetched.value, count.value)] if not r.flags & _SKIPPED_RECORD_FLAGS]


def full_name(persistent_id: int) -> Optional[str]:
    """The hardware's full name, asked of the JTAG client library itself
    (sld.h has no call for it); None when it gives none."""
    pid = _convert.unsigned(persistent_id, "persistent id")
    name = None
    for record_pid, record_name in _client_hardware():
        if record_pid == pid:  # the last record of that id counts, as for the library
            name = record_name
    return name


def _library_name(cable: Cable) -> str:
    for name in (cable.name, cable.full_name):
        if name is None:
            continue
        try:
            if persistent_id(name) == cable.persistent_id:
                return name
        except SldError:
            pass
    return ""


def cables() -> List[Cable]:
    """Every JTAG hardware: enumerates the hardware anew, then asks each one's
    persistent id and full name. An empty list when there is none.

    The JTAG client library tells the cables apart by persistent id and the
    library says under which short name it lists each; where that does not
    add up, each listed name with the persistent id the library finds by it."""
    count = c_ulong()
    table = POINTER(c_char_p)()
    status = api().sld_get_hardware(byref(count), byref(table))
    if status == Status.SLD_HARDWARE_NOT_FOUND:
        return []
    check(status, "sld_get_hardware")
    names = _copy_names(count, table)
    found = []
    for pid, full in _client_hardware():
        try:
            found.append(Cable(hardware_name(pid), full, pid))
        except SldError:
            continue
    if len(found) != len(names):
        found = []
        for name in names:
            try:
                pid: Optional[int] = persistent_id(name)
            except SldError:
                pid = None
            found.append(Cable(name, full_name(pid) if pid is not None else None, pid))
    return [Cable(c.name, c.full_name, c.persistent_id, _library_name(c)) if c.persistent_id is not None else c
            for c in found]


def _parse_device(cable: Cable, string: str) -> Device:
    match = _DEVICE_STRING.fullmatch(string)
    if match is None:
        return Device(cable, string, None, None, None)
    return Device(cable, string, int(match.group(1)), match.group(2), int(match.group(3), 16))


def devices(cable: CableLike) -> List[Device]:
    """Reads the cable's chain (scx_lock_chain, scan, read) and lists its
    devices in chain order. SLD_DEVICE_NOT_FOUND when it has none."""
    raw = cable_name(cable)
    count = c_ulong()
    table = POINTER(c_char_p)()
    check(api().sld_get_device(raw, byref(count), byref(table)), "sld_get_device", _convert.decode(raw))
    owner = cable if isinstance(cable, Cable) else Cable(cable, None, None)
    return [_parse_device(owner, s) for s in _copy_names(count, table)]


def refresh_hardware() -> None:
    """Rebuilds the hardware list (JTAG enumeration)."""
    check(api().sld_refresh_hardware(), "sld_refresh_hardware")


def refresh_devices(cable: CableLike) -> None:
    """Reads the cable's chain again; an unknown cable is not an error."""
    check(api().sld_refresh_device(cable_name(cable)), "sld_refresh_device")


def device_string(cable: CableLike, device: object) -> bytes:
    """The device string for a device given as Device (taken as it is), or
    named by its device string, "@N" or its name (sld.naming: reads the
    chain); bytes go to the library unchanged."""
    if isinstance(device, Device):
        return _convert.text(device.string, "device string")
    if not isinstance(device, str) or _DEVICE_STRING.fullmatch(device):
        # A device string goes to the library as it is: no chain read.
        return _convert.text(device, "device")
    from .naming import find_device

    return _convert.text(find_device(cable, device).string, "device string")
