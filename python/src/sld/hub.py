"""Hubs: opening a device's hub, its node records, its nodes, its lock and
broadcast. Ids are given back when their objects close or are collected."""

from __future__ import annotations

import itertools
import threading
import weakref
from ctypes import byref, c_int, c_ubyte, c_void_p
from dataclasses import dataclass
from typing import Dict, List, Optional, Union

from . import _convert
from ._capi import NODE_INFO, api
from .errors import check
from .hardware import CableLike, cable_name, device_string
from .locking import Broadcast, HubLock
from .naming import node_index
from .node import Node
from ._owner import IdOwner

#: The lock time-out sldtool uses; the JTAG library interprets it.
DEFAULT_LOCK_TIMEOUT = 6000


@dataclass(frozen=True)
class NodeInfo:
    """A node behind a hub, from its node information word."""

    index: int
    manufacturer_id: int
    node_id: int
    version: int
    instance_id: int


class _HubIds:
    """The ids a Hub and its Nodes hold, shared with their finalizers (which
    must not refer to the objects themselves)."""

    def __init__(self, hub_id: int) -> None:
        self.hub_id = hub_id
        self.closed = False
        self.broadcasting = False
        self.nodes: Dict[int, int] = {}  # ticket of an open Node -> its node id
        self.guard = threading.RLock()  # a finalizer may run inside close()
        self.tickets = itertools.count()

    def take_nodes(self) -> List[int]:
        with self.guard:
            node_ids, self.nodes = list(self.nodes.values()), {}
            return node_ids

    def take_node(self, ticket: int) -> Optional[int]:
        with self.guard:
            return self.nodes.pop(ticket, None)


def _release_hub(ids: _HubIds) -> None:
    """Finalizer of a Hub nobody closed: its nodes' ids, then its own."""
    with ids.guard:
        if ids.closed:
            return
        ids.closed = True
    for node_id in ids.take_nodes():
        api().sld_node_close(node_id)
    api().sld_hub_close(ids.hub_id)


def _release_node(ids: _HubIds, ticket: int) -> None:
    """Finalizer of a Node nobody closed."""
    node_id = ids.take_node(ticket)
    if node_id is not None:
        api().sld_node_close(node_id)


class Hub(IdOwner):
    """An open hub id on a device's hub; a context manager that closes it.

    Opening ran the hub's discovery (IR 14, a 64-bit DR scan, IR 12, the
    information words as 4-bit DR scans); opening a hub that is open already
    shares it under a new hub id. Closing closes the hub's open nodes first;
    the last hub id of a device closes its JTAG device handle.
    """

    def __init__(self, cable: str, device: str, hub_id: int) -> None:
        self.cable = cable
        self.device = device
        self._api = api()
        self._ids = _HubIds(hub_id)
        self._id_value = hub_id  # 0..127
        self._finalizer = weakref.finalize(self, _release_hub, self._ids)

    @property
    def closed(self) -> bool:
        return self._ids.closed

    def __repr__(self) -> str:
        state = "closed" if self._ids.closed else f"id {self._ids.hub_id}"
        return f"<sld.Hub {state} on {self.cable} {self.device}>"

    def __str__(self) -> str:
        return f"hub {self._ids.hub_id} on {self.cable} {self.device}"

    def close(self) -> None:
        """Closes the hub's open nodes and gives the hub id back (no JTAG
        traffic unless it was the device's last hub id). Closing twice is
        harmless."""
        with self._ids.guard:
            if self._ids.closed:
                return
            self._ids.closed = True
        self._finalizer.detach()
        statuses = [(self._api.sld_node_close(node_id), "sld_node_close") for node_id in self._ids.take_nodes()]
        statuses.append((self._api.sld_hub_close(self._ids.hub_id), "sld_hub_close"))
        for status, call in statuses:
            check(status, call, str(self))

    @property
    def node_count(self) -> int:
        """How many nodes the hub's discovery found."""
        count = c_ubyte()
        self._call("sld_hub_get_number_of_nodes", self._open_id(), byref(count))
        return count.value

    def node_info(self, index: int) -> NodeInfo:
        """The record of one node, as discovery read it (no JTAG traffic)."""
        index = _convert.unsigned(index, "node index", 255)
        info = NODE_INFO()
        self._call("sld_hub_get_node_info", self._open_id(), index, byref(info))
        return NodeInfo(index, info.manufacturer_id, info.node_id, info.version, info.instance_id)

    @property
    def nodes(self) -> List[NodeInfo]:
        """The records of every node, in node-index order (no JTAG traffic)."""
        return [self.node_info(i) for i in range(self.node_count)]

    def open_node(self, node: Union[int, str, NodeInfo]) -> Node:
        """Opens a node as a new node id (no JTAG traffic): given by record,
        index, or a name as sldtool takes it ("2", "0x2", "id:4": the one
        node with node id 4; see sld.naming). The Node keeps this Hub alive."""
        if isinstance(node, NodeInfo):
            index = node.index
        else:
            index = _convert.unsigned(node_index(self, node), "node index", 255)
        hub_id = self._open_id()
        info = self.node_info(index)
        node_id = c_int(-1)
        self._call("sld_node_open", hub_id, index, byref(node_id))
        with self._ids.guard:
            ticket = next(self._ids.tickets)
            self._ids.nodes[ticket] = node_id.value
        return Node(self, info, node_id.value, ticket, _release_node)

    def lock(self, timeout: int = DEFAULT_LOCK_TIMEOUT) -> HubLock:
        """The hub lock for a with block (sld_hub_lock / sld_hub_unlock)."""
        return HubLock(self, "sld_hub_lock", "sld_hub_unlock", _convert.unsigned(timeout, "time-out"))

    def broadcast(self) -> Broadcast:
        """A with block whose node IR scans are queued and sent together."""
        self._open_id()
        return Broadcast(self)

    @property
    def scx_handle(self) -> int:
        """The address of the JTAG client library's device handle behind the
        hub (owned by the hub)."""
        handle = c_void_p()
        self._call("sld_hub_get_scx_open_id", self._open_id(), byref(handle))
        return handle.value or 0


def open_hub(cable: CableLike, device: object) -> Hub:
    """Opens the hub of a device and returns it as a Hub (a context manager).

    cable is a Cable or a short or full cable name; device a Device, a
    device string "@1: SIM-FPGA-A (0x020A10DD)", "@N" (chain position from
    1) or the device's name when one device of the chain has it (these two
    read the chain; see sld.naming).
    """
    raw_cable = cable_name(cable)
    raw_device = device_string(cable, device)
    hub_id = c_int(-1)
    where = f"{_convert.decode(raw_cable)} {_convert.decode(raw_device)}"
    check(api().sld_hub_open(raw_cable, raw_device, byref(hub_id)), "sld_hub_open", where)
    return Hub(_convert.decode(raw_cable), _convert.decode(raw_device), hub_id.value)
