"""The hub lock and broadcast as context managers.

Both leave the hub as they found it when their block raises: the lock is
released, the broadcast ended. A failure of that clean-up does not hide the
block's own exception: it is added to it as a note, and raised only when the
block succeeded.
"""

from __future__ import annotations

import threading
from typing import Any, Optional

from ._owner import IdOwner
from .errors import SldError, Status

# Per thread, how many broadcasts have ended: ending one releases the hub
# lock of the thread, so a lock block around it finds nothing to release.
_ends = threading.local()


def _broadcast_ends() -> int:
    return getattr(_ends, "count", 0)


def _finish(status: int, call: str, context: str, error: Optional[BaseException]) -> None:
    if status == Status.SLD_OK:
        return
    failure = SldError(status, call, context)
    if error is None:
        raise failure
    if hasattr(error, "add_note"):
        error.add_note(f"while leaving the block: {failure}")


class HubLock:
    """Holds the hub lock for a with block: the JTAG device lock plus the
    library for this thread (other threads' calls wait).

    On entry, sld_hub_lock (or sld_node_lock / sld_node_lock_manual) with the
    time-out, which the JTAG library interprets; on exit the matching unlock,
    also when the block raised. A broadcast ended inside the block releases
    the lock already (the library does so); the exit then has nothing to do.
    The lock belongs to the thread that entered the block. When the node
    was closed inside the block, the exit unlocks through its hub; closing
    the hub gives the lock up only with the device's last hub id.
    """

    def __init__(self, owner: IdOwner, lock: str, unlock: str, timeout: int) -> None:
        self._owner, self._calls, self._timeout = owner, (lock, unlock), timeout
        self._id: Optional[int] = None
        self._ends_at_entry = 0

    def __enter__(self) -> "HubLock":
        if self._id is not None:
            raise ValueError(f"the lock of {self._owner} is held by this block already")
        owner_id = self._owner._open_id()
        self._owner._call(self._calls[0], owner_id, self._timeout)
        self._id, self._ends_at_entry = owner_id, _broadcast_ends()
        return self

    def __exit__(self, kind: object, error: Optional[BaseException], trace: object) -> None:
        owner_id, self._id = self._id, None
        call, owner = self._calls[1], self._owner
        # A node closed inside the block still leaves the lock with its hub.
        hub = getattr(owner, "hub", owner)
        if owner.closed and hub is not owner and not hub.closed:
            call, owner, owner_id = "sld_hub_unlock", hub, hub.id
        elif owner.closed:
            return  # closing the device's last hub id gave the lock up
        status = getattr(owner._api, call)(owner_id)
        if status == Status.SLD_NOT_LOCKED and self._ends_at_entry != _broadcast_ends():
            return
        _finish(status, call, str(owner), error)


class Broadcast:
    """Queues the node instructions of a with block and sends them together.

    On entry sld_hub_broadcast_begin: from then on an IR scan on any node of
    the hub is queued (one per node), not sent. On exit
    sld_hub_broadcast_end sends hub instruction 1, the queued instructions in
    node order and hub instruction 2 under the hub lock, and releases the hub
    lock, also one held before. The exit ends the broadcast also when the
    block raised, sending what was queued: ending is the only way back to
    ordinary scans.
    """

    def __init__(self, hub: Any) -> None:
        self._hub = hub

    def __enter__(self) -> "Broadcast":
        hub_id = self._hub._open_id()
        self._hub._call("sld_hub_broadcast_begin", hub_id)
        self._hub._ids.broadcasting = True
        self._hub_id = hub_id
        return self

    def __exit__(self, kind: object, error: Optional[BaseException], trace: object) -> None:
        self._hub._ids.broadcasting = False
        status = self._hub._api.sld_hub_broadcast_end(self._hub_id)
        _ends.count = _broadcast_ends() + 1
        _finish(status, "sld_hub_broadcast_end", str(self._hub), error)
