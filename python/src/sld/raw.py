"""Raw JTAG device handles: a device opened for the caller's own use of the
JTAG client library, which keeps hubs off it while open."""

from __future__ import annotations

import weakref
from typing import Optional
from ctypes import byref, c_void_p

from ._capi import api
from .hardware import CableLike, cable_name, device_string
from .errors import SldError, Status, check


def _close_handle(handle: int) -> None:
    api().scx_close_device(handle)


class ScxDevice:
    """A JTAG device handle owned by the caller; a context manager that
    closes it (scx_close_device). handle is its address, for the caller's
    own calls into the JTAG client library."""

    def __init__(self, where: str, handle: int) -> None:
        self.where = where
        self._handle = handle
        self._finalizer = weakref.finalize(self, _close_handle, handle)

    @property
    def handle(self) -> int:
        if not self._finalizer.alive:
            raise ValueError(f"the JTAG handle of {self.where} is closed")
        return self._handle

    @property
    def closed(self) -> bool:
        return not self._finalizer.alive

    def close(self) -> None:
        """Closes the handle; closing twice is harmless. Raises SldError
        (SLD_JTAG_ERROR) when the JTAG client library refuses."""
        if self._finalizer.detach() is None:
            return
        result = api().scx_close_device(self._handle)
        if result != 0:
            raise SldError(Status.SLD_JTAG_ERROR, "scx_close_device", f"{self.where}: JTAG error {result}")

    def __enter__(self) -> "ScxDevice":
        self.handle
        return self

    def __exit__(self, kind: object, error: Optional[BaseException], trace: object) -> None:
        self.close()

    def __repr__(self) -> str:
        return f"<sld.ScxDevice {'closed' if self.closed else hex(self._handle)} on {self.where}>"


def open_scx_device(cable: CableLike, device: object) -> ScxDevice:
    """Opens a device as a raw JTAG handle (sld_scx_device_open). Needs the
    cable's device list read before (sld.devices); SLD_ALREADY_LOCKED while
    a hub is open on the device."""
    raw_cable = cable_name(cable)
    raw_device = device_string(cable, device)
    where = f"{raw_cable.decode('utf-8', 'replace')} {raw_device.decode('utf-8', 'replace')}"
    handle = c_void_p()
    check(api().sld_scx_device_open(raw_cable, raw_device, byref(handle)), "sld_scx_device_open", where)
    return ScxDevice(where, handle.value or 0)
