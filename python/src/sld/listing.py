"""What `python3 -m sld list` shows, read once and written as sldtool writes
it: the tree of cables, devices, hubs and nodes, or its JSON document."""

from __future__ import annotations

import json
from dataclasses import dataclass, field
from typing import Any, Dict, List, Optional, TextIO

from .errors import SldError, Status
from .hardware import Cable, Device, cables, devices
from .hub import NodeInfo, open_hub

#: Answers of sld_hub_open that say what the device is, not that it could
#: not be examined.
HUB_ANSWERS = (Status.SLD_HUB_NOT_FOUND, Status.SLD_UNSUPPORTED_HUB)


@dataclass
class DeviceEntry:
    device: Device
    nodes: List[NodeInfo] = field(default_factory=list)
    failure: Optional[SldError] = None  # why the hub could not be used

    @property
    def examined(self) -> bool:
        """False when an error kept the hub from being examined."""
        f = self.failure
        return f is None or (f.call == "sld_hub_open" and f.status in HUB_ANSWERS)


@dataclass
class CableEntry:
    cable: Cable
    devices: List[DeviceEntry] = field(default_factory=list)
    failure: Optional[SldError] = None  # why the chain could not be read

    @property
    def examined(self) -> bool:
        """False when an error kept the chain from being read (an empty
        chain is an answer)."""
        f = self.failure
        return f is None or (f.call == "sld_get_device" and f.status == Status.SLD_DEVICE_NOT_FOUND)


@dataclass
class Inventory:
    cables: List[CableEntry] = field(default_factory=list)
    warnings: List[str] = field(default_factory=list)  # closing calls that failed

    def unexamined(self) -> int:
        """How many cables and devices an error kept from being examined."""
        return sum((not c.examined) + sum(not d.examined for d in c.devices) for c in self.cables)


def _read_hub(entry: DeviceEntry, warnings: List[str]) -> None:
    try:
        hub = open_hub(entry.device.cable, entry.device)
    except SldError as error:
        entry.failure = error
        return
    try:
        entry.nodes = hub.nodes
    except SldError as error:
        entry.nodes, entry.failure = [], error
    finally:
        try:
            hub.close()
        except SldError as error:
            warnings.append(str(error))


def take_inventory() -> Inventory:
    """Reads every cable's chain and opens (and closes) every hub."""
    inventory = Inventory([CableEntry(cable) for cable in cables()])
    for entry in inventory.cables:
        try:
            entry.devices = [DeviceEntry(device) for device in devices(entry.cable)]
        except SldError as error:
            entry.failure = error
        for device in entry.devices:
            _read_hub(device, inventory.warnings)
    return inventory


def _printable(text: str) -> str:
    """Control characters as \\xHH, as sldtool shows names from the hardware."""
    return "".join(f"\\x{ord(c):02X}" if ord(c) < 0x20 or ord(c) == 0x7F else c for c in text)


def _branch(last: bool) -> str:
    return "`-- " if last else "|-- "


def _indent(last: bool) -> str:
    return "    " if last else "|   "


def _words(error: SldError) -> str:
    return f"{error.name}, {error.sentence}"


def _hub_failure(entry: DeviceEntry) -> str:
    error = entry.failure
    assert error is not None
    if not entry.examined:
        return f"not examined, an error: {error.call}: {_words(error)}"
    if error.status == Status.SLD_HUB_NOT_FOUND:
        return f"no hub: {_words(error)}"
    return f"hub refused: {_words(error)}"


def _node_text(node: NodeInfo) -> str:
    return (f"node {node.index}: manufacturer {node.manufacturer_id}, node id {node.node_id}, "
            f"version {node.version}, instance {node.instance_id}")


def _device_lines(entry: DeviceEntry, last: bool) -> List[str]:
    lines = [_branch(last) + _printable(entry.device.string)]
    prefix = _indent(last)
    if entry.failure is not None:
        return lines + [prefix + _branch(True) + _hub_failure(entry)]
    count = len(entry.nodes)
    lines.append(prefix + _branch(True) + f"hub with {count} node{'' if count == 1 else 's'}")
    for i, node in enumerate(entry.nodes):
        lines.append(prefix + _indent(True) + _branch(i + 1 == count) + _node_text(node))
    return lines


def _cable_lines(entry: CableEntry) -> List[str]:
    cable = entry.cable
    full = f'full name "{cable.full_name}"' if cable.full_name is not None else "no full name"
    pid = f"persistent id {cable.persistent_id}" if cable.persistent_id is not None else "persistent id unknown"
    lines = [_printable(f"cable {cable.name} ({full}, {pid})")]
    if entry.failure is not None and entry.failure.call != "sld_get_device":
        return lines + [_branch(True) + "not usable: the library finds another cable by each of its names"]
    if entry.failure is not None:
        what = "no devices" if entry.examined else "not examined, an error: sld_get_device"
        return lines + [_branch(True) + f"{what}: {_words(entry.failure)}"]
    for i, device in enumerate(entry.devices):
        lines += _device_lines(device, i + 1 == len(entry.devices))
    return lines


def write_tree(out: TextIO, inventory: Inventory) -> None:
    """The tree, as `sldtool list` prints it."""
    if not inventory.cables:
        out.write("no JTAG hardware found\n")
    for entry in inventory.cables:
        out.write("".join(line + "\n" for line in _cable_lines(entry)))


# ---- JSON -----------------------------------------------------------------------

#: The layout version of the document, as sldtool's.
SCHEMA_VERSION = 1


def _text(value: str) -> str:
    """A name for JSON: bytes that were not UTF-8 become U+FFFD."""
    return value.encode("utf-8", "surrogateescape").decode("utf-8", "replace")


def _status(error: SldError) -> Dict[str, Any]:
    return {"code": error.status, "name": error.name, "message": error.sentence, "call": error.call}


def _device_json(entry: DeviceEntry) -> Dict[str, Any]:
    device = entry.device
    parsed = device.position is not None
    doc: Dict[str, Any] = {
        "device": _text(device.string),
        "position": device.position,
        "name": _text(device.name) if parsed and device.name is not None else None,
        "idcode": f"0x{device.idcode:08X}" if parsed and device.idcode is not None else None,
    }
    if entry.failure is not None:
        doc.update(hub=None, hub_status=_status(entry.failure))
    else:
        nodes = [{"index": n.index, "manufacturer_id": n.manufacturer_id, "node_id": n.node_id,
                  "version": n.version, "instance_id": n.instance_id} for n in entry.nodes]
        doc.update(hub={"node_count": len(nodes), "nodes": nodes}, hub_status=None)
    doc["examined"] = entry.examined
    return doc


def _cable_json(entry: CableEntry) -> Dict[str, Any]:
    cable = entry.cable
    return {
        "name": _text(cable.name),
        "full_name": _text(cable.full_name) if cable.full_name is not None else None,
        "persistent_id": cable.persistent_id,
        "device_status": _status(entry.failure) if entry.failure is not None else None,
        "devices": [_device_json(device) for device in entry.devices],
        "examined": entry.examined,
    }


def write_json(out: TextIO, inventory: Inventory) -> None:
    """The document of `sldtool list --json` (docs/sldtool.md), without a scan log."""
    doc = {"schema_version": SCHEMA_VERSION, "cables": [_cable_json(c) for c in inventory.cables],
           "scan_log": None}
    out.write(json.dumps(doc, indent=2, ensure_ascii=False) + "\n")
