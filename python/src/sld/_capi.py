"""The C declarations of sld.h (and the two scx_ calls the package makes
itself) as ctypes prototypes, set up once on the loaded libraries."""

from __future__ import annotations

import ctypes
import threading
from ctypes import POINTER, c_bool, c_char, c_char_p, c_int, c_uint, c_ubyte, c_ulong, c_ushort, c_void_p
from typing import Any, Optional

from . import _loader

ULONG_MAX = (1 << (8 * ctypes.sizeof(c_ulong))) - 1


class NODE_INFO(ctypes.Structure):
    _fields_ = [
        ("instance_id", c_ubyte),
        ("reserved", c_ubyte),
        ("manufacturer_id", c_ushort),
        ("node_id", c_ubyte),
        ("version", c_ubyte),
    ]


class LOG_RECORD(ctypes.Structure):
    pass


LOG_RECORD._fields_ = [
    ("kind", c_uint),
    ("value", c_uint),
    ("data", POINTER(c_ubyte)),
    ("next", POINTER(LOG_RECORD)),
]


class BATCH_ACCESS(ctypes.Structure):
    _fields_ = [(name, c_ulong) for name in ("kind", "write", "read", "length", "delay")]


class SCX_HARDWARE(ctypes.Structure):
    _fields_ = [
        ("chain", c_void_p),
        ("persistent_id", c_ulong),
        ("name", c_char_p),
        ("reserved", c_ulong * 4),
        ("flags", c_ulong),
    ]


_E = c_int  # SLD_ERROR
_P = POINTER

# name: (restype, argtypes), in the order of sld.h.
_SLD_PROTOTYPES = {
    "sld_get_version": (_E, [_P(c_int), _P(c_int)]),
    "sld_enable_scx_log": (None, []),
    "sld_disable_scx_log": (None, []),
    "sld_clear_scx_log": (None, []),
    "sld_get_scx_log_head": (None, [_P(_P(LOG_RECORD))]),
    "sld_get_hardware": (_E, [_P(c_ulong), _P(_P(c_char_p))]),
    "sld_get_hardware_name": (_E, [c_ulong, _P(c_char_p)]),
    "sld_get_hardware_persistent_id": (_E, [c_char_p, _P(c_ulong)]),
    "sld_refresh_hardware": (_E, []),
    "sld_get_device": (_E, [c_char_p, _P(c_ulong), _P(_P(c_char_p))]),
    "sld_refresh_device": (_E, [c_char_p]),
    "sld_hub_open": (_E, [c_char_p, c_char_p, _P(c_int)]),
    "sld_hub_close": (_E, [c_int]),
    "sld_scx_device_open": (_E, [c_char_p, c_char_p, _P(c_void_p)]),
    "sld_hub_get_scx_open_id": (_E, [c_int, _P(c_void_p)]),
    "sld_hub_get_number_of_nodes": (_E, [c_int, _P(c_ubyte)]),
    "sld_hub_get_node_info": (_E, [c_int, c_ubyte, _P(NODE_INFO)]),
    "sld_node_open": (_E, [c_int, c_ubyte, _P(c_int)]),
    "sld_node_close": (_E, [c_int]),
    "sld_hub_lock": (_E, [c_int, c_ulong]),
    "sld_hub_unlock": (_E, [c_int]),
    "sld_node_lock": (_E, [c_int, c_ulong]),
    "sld_node_lock_manual": (_E, [c_int, c_ulong]),
    "sld_node_unlock": (_E, [c_int]),
    "sld_node_access_ir": (_E, [c_int, c_ulong, _P(c_ulong), c_ulong]),
    "sld_node_access_dr": (_E, [c_int, c_ulong, _P(c_ubyte), _P(c_ubyte), c_ulong]),
    "sld_node_batch_access": (_E, [c_int, _P(BATCH_ACCESS)]),
    "sld_node_rti": (_E, [c_int, c_ulong]),
    "sld_node_flush": (_E, [c_int]),
    "sld_node_delay": (_E, [c_int, c_ulong]),
    "sld_hub_broadcast_begin": (_E, [c_int]),
    "sld_hub_broadcast_end": (_E, [c_int]),
}

# The scx_ functions have C++ linkage; their declarations are fixed, so
# their mangled names are too.
_SCX_PROTOTYPES = {
    "scx_get_hardware": (
        "_Z16scx_get_hardwarePmP12SCX_HARDWAREm",
        (c_ulong, [_P(c_ulong), _P(SCX_HARDWARE), c_ulong]),
    ),
    "scx_print_hardware_name": (
        "_Z23scx_print_hardware_nameP9SCX_CHAINPcmbPm",
        (c_ulong, [c_void_p, _P(c_char), c_ulong, c_bool, _P(c_ulong)]),
    ),
    "scx_close_device": ("_Z16scx_close_deviceP8SCX_OPEN", (c_ulong, [c_void_p])),
}


class Api:
    """The prototyped functions: attributes named as in C."""

    def __init__(self, libs: _loader.Libraries) -> None:
        self.libraries = libs
        for name, (restype, argtypes) in _SLD_PROTOTYPES.items():
            setattr(self, name, _prototype(getattr(libs.sld, name), restype, argtypes))
        for name, (mangled, (restype, argtypes)) in _SCX_PROTOTYPES.items():
            setattr(self, name, _prototype(getattr(libs.scx, mangled), restype, argtypes))


def _prototype(function: Any, restype: Any, argtypes: list) -> Any:
    function.restype = restype
    function.argtypes = argtypes
    return function


_lock = threading.Lock()
_api: Optional[Api] = None


def api() -> Api:
    """The C API, loading the libraries on first use."""
    global _api
    with _lock:
        if _api is None:
            _api = Api(_loader.libraries())
        return _api
