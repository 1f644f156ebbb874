"""The statuses of sld.h and the exception that carries a failing one."""

from __future__ import annotations

import enum
from typing import Optional


class Status(enum.IntEnum):
    """Every status an sld_ function returns, named as in sld.h."""

    SLD_OK = 0
    SLD_HARDWARE_NOT_FOUND = 1
    SLD_DEVICE_NOT_FOUND = 2
    SLD_INVALID_HUB_ID = 3
    SLD_UNSUPPORTED_HUB = 4
    SLD_INVALID_NODE_ID = 5
    SLD_INVALID_NODE_INDEX = 6
    SLD_JTAG_ERROR = 7
    SLD_HUB_NOT_FOUND = 8
    SLD_NO_FREE_SLOT = 9
    SLD_HUB_HAS_OPEN_NODES = 10
    SLD_SERVER_ERROR = 11
    SLD_STALE_ID = 12
    SLD_BROADCAST_ACTIVE = 50
    SLD_BROADCAST_INACTIVE = 51
    SLD_NODE_ALREADY_QUEUED = 52
    SLD_ALREADY_LOCKED = 60
    SLD_NOT_LOCKED = 61
    SLD_SERVER_ERROR_70 = 70
    SLD_NULL_ARGUMENT = 100


_SENTENCES = {
    Status.SLD_OK: "success",
    Status.SLD_HARDWARE_NOT_FOUND: "no JTAG hardware of that name or persistent id",
    Status.SLD_DEVICE_NOT_FOUND: "no such device on the chain, the chain has gone, or the hub id is not usable",
    Status.SLD_INVALID_HUB_ID: "the hub id is out of range or not open",
    Status.SLD_UNSUPPORTED_HUB: (
        "the device's hub has a version this library does not support, or cannot capture that node's instruction"
    ),
    Status.SLD_INVALID_NODE_ID: "the node id is not open, or its node has gone",
    Status.SLD_INVALID_NODE_INDEX: "the node index is not below the hub's node count",
    Status.SLD_JTAG_ERROR: "the JTAG client library failed in an unexpected way",
    Status.SLD_HUB_NOT_FOUND: "the device does not answer as a valid hub",
    Status.SLD_NO_FREE_SLOT: "all hub ids or node ids are in use, or memory ran out",
    Status.SLD_HUB_HAS_OPEN_NODES: "the hub id still has node ids open",
    Status.SLD_SERVER_ERROR: "the JTAG server failed",
    Status.SLD_STALE_ID: "the hardware or its chain changed and the id's hub is gone; open the hub again",
    Status.SLD_BROADCAST_ACTIVE: "the hub is broadcasting (begun twice, or a capture asked while it queues)",
    Status.SLD_BROADCAST_INACTIVE: "a broadcast was ended without being begun",
    Status.SLD_NODE_ALREADY_QUEUED: "a second instruction for the same node in one broadcast",
    Status.SLD_ALREADY_LOCKED: "the hub is already locked by this thread, or another client holds the device",
    Status.SLD_NOT_LOCKED: "the hub is not locked by this thread",
    Status.SLD_SERVER_ERROR_70: "the JTAG server reported an internal error (46)",
    Status.SLD_NULL_ARGUMENT: "a required pointer argument was null",
}


def status_name(status: int) -> str:
    """The sld.h name of a status, or "status N" for one sld.h does not list."""
    try:
        return Status(status).name
    except ValueError:
        return f"status {status}"


def status_sentence(status: int) -> str:
    """What a status means, in plain words."""
    try:
        return _SENTENCES[Status(status)]
    except ValueError:
        return "a status sld.h does not list"


class SldError(Exception):
    """An sld_ function returned a failing status.

    ``status`` is the number, ``name`` its sld.h name, ``sentence`` what it
    means and ``call`` the sld_ function that returned it.
    """

    def __init__(self, status: int, call: str, context: Optional[str] = None) -> None:
        self.status = status
        self.name = status_name(status)
        self.sentence = status_sentence(status)
        self.call = call
        self.context = context
        where = f" ({context})" if context else ""
        super().__init__(f"{call}{where}: {self.name} ({status}): {self.sentence}")


def check(status: int, call: str, context: Optional[str] = None) -> None:
    """Raises SldError unless status is SLD_OK."""
    if status != Status.SLD_OK:
        raise SldError(status, call, context)
