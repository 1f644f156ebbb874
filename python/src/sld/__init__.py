"""sld: host access to the debug hubs of devices on a JTAG chain, over
libsld.so (include/sld.h) through ctypes.

    import sld
    with sld.open_hub("SimCable-1", "@1") as hub, hub.open_node(0) as node:
        node.ir(1); node.dr(8, 0x10)

The shared libraries are loaded on first use: libthr.so and libscx.so with
RTLD_GLOBAL, then libsld.so, from the directories named by $SLD_LIBRARY_DIR,
else from where CMake installed this package or the source tree's build/x64,
else from the system's library path. Every failing status raises SldError;
bad arguments raise TypeError or ValueError before any library call.

Scan data: bit j of a scan is bit j % 8 of byte j // 8 of a bytes value, and
an int's bit 0 is scan bit 0.

The simulated JTAG world's controls are in sld.sim, apart from this API.
"""

from ._loader import ENV_VAR as LIBRARY_DIR_VARIABLE
from ._loader import LibraryNotFound
from .errors import SldError, Status, status_name, status_sentence
from .hardware import (
    Cable,
    Device,
    cables,
    devices,
    full_name,
    hardware_name,
    persistent_id,
    refresh_devices,
    refresh_hardware,
    version,
)
from .hub import DEFAULT_LOCK_TIMEOUT, Hub, NodeInfo, open_hub
from .naming import find_device
from .locking import Broadcast, HubLock
from .node import Dr, Ir, Node
from .raw import ScxDevice, open_scx_device
from .scan_log import LogKind, LogRecord
from .scan_log import clear as clear_scan_log
from .scan_log import disable as disable_scan_log
from .scan_log import enable as enable_scan_log
from .scan_log import records as scan_log

__all__ = [
    "LIBRARY_DIR_VARIABLE", "LibraryNotFound", "SldError", "Status", "status_name", "status_sentence",
    "Cable", "Device", "cables", "devices", "full_name", "hardware_name", "persistent_id",
    "refresh_devices", "refresh_hardware", "version",
    "DEFAULT_LOCK_TIMEOUT", "Hub", "NodeInfo", "open_hub", "find_device", "Broadcast", "HubLock", "Dr", "Ir", "Node",
    "ScxDevice", "open_scx_device", "LogKind", "LogRecord",
    "clear_scan_log", "disable_scan_log", "enable_scan_log", "scan_log",
]
__version__ = "1.0.0"

# The exceptions a caller catches show as sld.X in tracebacks, where they are found.
LibraryNotFound.__module__ = SldError.__module__ = __name__
