"""The tree of cables, devices, hubs and nodes, as `sldtool list` prints it."""

from __future__ import annotations

from typing import List, TextIO

from .errors import SldError, Status
from .hardware import Cable, Device, cables, devices
from .hub import open_hub


def _branch(last: bool) -> str:
    return "`-- " if last else "|-- "


def _indent(last: bool) -> str:
    return "    " if last else "|   "


def _words(error: SldError) -> str:
    return f"{error.name}, {error.sentence}"


def _hub_failure(error: SldError) -> str:
    if error.call != "sld_hub_open":
        return f"hub not read: {error.call}: {_words(error)}"
    if error.status == Status.SLD_HUB_NOT_FOUND:
        return f"no hub: {_words(error)}"
    if error.status == Status.SLD_UNSUPPORTED_HUB:
        return f"hub refused: {_words(error)}"
    return f"hub not opened: {_words(error)}"


def _device_lines(cable: Cable, device: Device, last: bool, warnings: List[str]) -> List[str]:
    lines = [_branch(last) + device.string]
    prefix = _indent(last)
    try:
        hub = open_hub(cable, device)
    except SldError as error:
        return lines + [prefix + _branch(True) + _hub_failure(error)]
    try:
        nodes = hub.nodes
    except SldError as error:
        nodes = None
        lines.append(prefix + _branch(True) + _hub_failure(error))
    finally:
        try:
            hub.close()
        except SldError as error:
            warnings.append(str(error))
    if nodes is not None:
        lines.append(prefix + _branch(True) + f"hub with {len(nodes)} node{'' if len(nodes) == 1 else 's'}")
        for node in nodes:
            lines.append(
                prefix + _indent(True) + _branch(node is nodes[-1])
                + f"node {node.index}: manufacturer {node.manufacturer_id}, node id {node.node_id}, "
                f"version {node.version}, instance {node.instance_id}"
            )
    return lines


def _cable_lines(cable: Cable, warnings: List[str]) -> List[str]:
    full = f'full name "{cable.full_name}"' if cable.full_name is not None else "no full name"
    pid = f"persistent id {cable.persistent_id}" if cable.persistent_id else "persistent id unknown"
    lines = [f"cable {cable.name} ({full}, {pid})"]
    try:
        chain = devices(cable)
    except SldError as error:
        what = "no devices" if error.status == Status.SLD_DEVICE_NOT_FOUND else "devices not read"
        return lines + [_branch(True) + f"{what}: {_words(error)}"]
    for i, device in enumerate(chain):
        lines += _device_lines(cable, device, i + 1 == len(chain), warnings)
    return lines


def write_tree(out: TextIO) -> List[str]:
    """Writes the tree (opening and closing every hub) and returns the
    failures of closing calls, which do not spoil the listing."""
    warnings: List[str] = []
    found = cables()
    if not found:
        out.write("no JTAG hardware found\n")
    for cable in found:
        out.write("".join(line + "\n" for line in _cable_lines(cable, warnings)))
    return warnings
