"""How a device and a node are named, by the rules of sldtool (docs/sldtool.md).

A device: its device string exactly, "@N" for chain position N (from 1), or
its name when one device of the chain has it. A node: its index in the hub,
or "id:N" for the one node whose node id is N. Numbers are decimal, 0x hex
or 0b binary ("010" is ten).

A name that fits nothing, or several devices or nodes, raises SldError
(SLD_DEVICE_NOT_FOUND, SLD_INVALID_NODE_INDEX) whose context lists what
there is; a malformed one raises ValueError before the hardware is asked.
"""

from __future__ import annotations

from typing import TYPE_CHECKING, List, Sequence, Union

from .errors import SldError, Status

if TYPE_CHECKING:
    from .hardware import CableLike, Device
    from .hub import Hub, NodeInfo

_NODE_ID_PREFIX = "id:"
# Highest node index a hub can have, and highest node id.
MAX_NODE_INDEX = 254
MAX_NODE_ID = 255
# The highest position taken after an @, as sldtool (its longest scan).
_MAX_POSITION = 1 << 20

_DIGITS = {16: "0123456789abcdefABCDEF", 2: "01", 10: "0123456789"}


def parse_number(text: str, maximum: int) -> int:
    """A decimal, 0x hexadecimal or 0b binary number in 0..maximum."""
    base, digits = 10, text
    if len(text) >= 2 and text[0] == "0" and text[1] in "xXbB":
        base, digits = (16 if text[1] in "xX" else 2), text[2:]
    if not digits or any(c not in _DIGITS[base] for c in digits):
        raise ValueError(f'"{text}" is not a number (decimal, 0x hex or 0b binary)')
    value = int(digits, base)
    if value > maximum:
        raise ValueError(f'"{text}" is too large (at most {maximum})')
    return value


def _listed(items: Sequence[str]) -> str:
    return "".join("\n  " + item for item in items)


def find_device(cable: "CableLike", wanted: str) -> "Device":
    """The device of the cable's chain that wanted names (reads the chain)."""
    from .hardware import devices

    chain = devices(cable)
    for device in chain:
        if device.string == wanted:
            return device
    # "@N" names a position; anything else with ": " was meant as a device string.
    if len(wanted) > 1 and wanted[0] == "@" and ": " not in wanted:
        try:
            position = parse_number(wanted[1:], _MAX_POSITION)
        except ValueError as error:
            raise ValueError(f'device "{wanted}": {error} after the @') from None
        for device in chain:
            if device.position == position:
                return device
    named = [device for device in chain if device.name == wanted]
    if len(named) == 1:
        return named[0]
    if named:
        raise SldError(Status.SLD_DEVICE_NOT_FOUND, "sld_get_device",
                       f'the device name "{wanted}" fits {len(named)} devices on the chain of {cable}:'
                       + _listed([d.string for d in named]) + "\nname one by its position, @N")
    raise SldError(Status.SLD_DEVICE_NOT_FOUND, "sld_get_device",
                   f'no device "{wanted}" on the chain of {cable}; its devices are:'
                   + _listed([d.string for d in chain]))


def _node_text(info: "NodeInfo") -> str:
    return (f"node {info.index}: manufacturer {info.manufacturer_id}, node id {info.node_id}, "
            f"version {info.version}, instance {info.instance_id}")


def node_index(hub: "Hub", wanted: Union[int, str]) -> int:
    """The index of the node wanted names: an int index, or a string with
    an index or "id:N"; an id is looked up in the hub's node records."""
    if isinstance(wanted, int) and not isinstance(wanted, bool):
        return wanted
    if not isinstance(wanted, str):
        raise TypeError(f"node must be an int, a str or a NodeInfo, not {type(wanted).__name__}")
    if wanted[:3].lower() != _NODE_ID_PREFIX:
        try:
            return parse_number(wanted, MAX_NODE_INDEX)
        except ValueError as error:
            raise ValueError(f"node index: {error} (or id:N for a node id)") from None
    try:
        node_id = parse_number(wanted[3:], MAX_NODE_ID)
    except ValueError as error:
        raise ValueError(f"node id: {error}") from None
    nodes = hub.nodes
    fits: List["NodeInfo"] = [info for info in nodes if info.node_id == node_id]
    if len(fits) == 1:
        return fits[0].index
    if not fits:
        raise SldError(Status.SLD_INVALID_NODE_INDEX, "sld_hub_get_node_info",
                       f"no node with node id {node_id} behind the hub of {hub.cable} {hub.device}; "
                       "its nodes are:" + _listed([_node_text(n) for n in nodes]))
    raise SldError(Status.SLD_INVALID_NODE_INDEX, "sld_hub_get_node_info",
                   f"node id {node_id} fits {len(fits)} nodes of the hub of {hub.cable} {hub.device}:"
                   + _listed([_node_text(n) for n in fits]) + "\nname one by its index")
