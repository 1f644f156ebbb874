"""Which JTAG world libscx.so serves, through the C-linkage controls of this
project's SCX library (platform/scx/core/scxcore_c.h).

Another JTAG client library lacks them: then nothing can be chosen, no
server is reported unreachable and the backend's name is unknown (None).
"""

from __future__ import annotations

import ctypes
import time
from ctypes import c_char_p, c_int, c_size_t
from typing import Any, List, Optional, Sequence, Tuple

from . import _convert, _loader

_ERROR_SIZE = 1024
# A report longer than this is broken and not believed.
_MAX_REPORT = 1 << 20


class BackendError(Exception):
    """The JTAG backend could not be chosen as asked."""


def _function(name: str, restype: Any, argtypes: list) -> Optional[Any]:
    function = getattr(_loader.libraries().scx, name, None)
    if function is not None:
        function.restype, function.argtypes = restype, argtypes
    return function


def backend_name() -> Optional[str]:
    """"sim" or "openocd" (chosen now if it was not yet); None when the SCX
    library cannot say."""
    function = _function("scx_backend_name", c_char_p, [])
    name = function() if function is not None else None
    return _convert.decode(name) if name else None


def startup_failure() -> Optional[str]:
    """Why the backend did not start (a board file refused), or None."""
    function = _function("scx_backend_failure", c_char_p, [])
    text = function() if function is not None else None
    return _convert.decode(text) if text else None


def openocd_linked() -> bool:
    """Whether the SCX library in use can serve from OpenOCD servers."""
    return _function("scx_use_openocd", c_int, [c_char_p, c_char_p, c_size_t]) is not None


def use_openocd(servers: Sequence[str]) -> None:
    """Serves the process from the OpenOCD servers named (each HOST:PORT or a
    comma-separated list of them). Must come before the first JTAG call;
    BackendError for a malformed list or a backend chosen already."""
    function = _function("scx_use_openocd", c_int, [c_char_p, c_char_p, c_size_t])
    if function is None:
        raise BackendError("the JTAG library in use has no OpenOCD backend")
    error = ctypes.create_string_buffer(_ERROR_SIZE)
    if not function(_convert.text(",".join(servers), "servers"), error, _ERROR_SIZE):
        raise BackendError(_convert.decode(error.value) or "the OpenOCD servers were refused")


def unreachable_servers() -> List[Tuple[str, str, str]]:
    """(HOST:PORT, reason, "HH:MM:SS UTC" of the last connection attempt) of
    each server the last hardware query could not reach, in the order they
    were named."""
    function = _function("scx_openocd_unreachable", c_size_t, [c_char_p, c_size_t])
    if function is None:
        return []
    length = function(None, 0)
    if not length:
        return []
    if length > _MAX_REPORT:
        return [("?", "the report of unreachable servers is too long to believe", "?")]
    buffer = ctypes.create_string_buffer(length + 1)
    function(buffer, length + 1)
    servers = []
    for line in _convert.decode(buffer.value).splitlines():
        endpoint, _, rest = line.partition("\t")
        reason, _, tried = rest.partition("\t")
        try:
            when = time.strftime("%H:%M:%S", time.gmtime(int(tried))) + " UTC"
        except (ValueError, OverflowError, OSError):
            when = "?"
        servers.append((endpoint, reason, when))
    return servers
