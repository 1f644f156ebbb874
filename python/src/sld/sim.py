"""Control of the simulated JTAG world behind libscx.so, for tests: boards,
hot-plug, fault injection, call traces, a foreign client's locks and the
device side of nodes. Apart from the library's API: nothing here exists on
real hardware.

Cables are named by persistent id and device positions count from 0 here
(the device string "@1: ..." is position 0). Node numbers are node indexes.
Failures raise SimError; bad arguments TypeError or ValueError.
"""

from __future__ import annotations

import ctypes
import json
import threading
from ctypes import POINTER, byref, c_char_p, c_int, c_size_t, c_ubyte, c_uint, c_uint64, c_ulong, c_void_p
from typing import Any, Callable, Dict, List, Optional, Union

from . import _backend, _convert, _loader
from ._capi import ULONG_MAX

#: The scx_ functions a fault, delay or count can name ("any": every one).
FUNCTIONS = (
    "any", "get_hardware", "find_hardware", "print_hardware_name", "lock_chain", "unlock_chain",
    "scan_device_chain", "read_device_chain", "open_device", "close_device", "lock", "unlock",
    "access_ir", "access_dr", "run_test_idle", "delay", "flush",
)

Json = Union[str, Dict[str, Any]]
_ERROR_SIZE = 4096
_UL, _S, _P = c_ulong, c_char_p, POINTER
_OUT_BYTES = [_P(c_void_p), _P(c_size_t)]
_NODE = [_UL, _UL, c_uint]

_PROTOTYPES: Dict[str, tuple] = {
    "scxsim_free": (None, [c_void_p]),
    "scxsim_load_board_file": (c_int, [_S, _S, c_size_t]),
    "scxsim_load_board_string": (c_int, [_S, _S, c_size_t]),
    "scxsim_default_board_json": (c_int, _OUT_BYTES),
    "scxsim_reset": (None, []),
    "scxsim_add_cable": (c_int, [_S, _S, c_size_t]),
    "scxsim_remove_cable": (c_int, [_UL]),
    "scxsim_renew_chain_handle": (c_int, [_UL]),
    "scxsim_set_cable_name": (c_int, [_UL, _S]),
    "scxsim_set_cable_full_name": (c_int, [_UL, _S]),
    "scxsim_set_cable_flags": (c_int, [_UL, _UL]),
    "scxsim_insert_device": (c_int, [_UL, _UL, _S, _S, c_size_t]),
    "scxsim_replace_device": (c_int, [_UL, _UL, _S, _S, c_size_t]),
    "scxsim_remove_device": (c_int, [_UL, _UL]),
    "scxsim_set_idcode": (c_int, [_UL, _UL, _UL]),
    "scxsim_fail_call": (c_int, [_S, _UL, _UL]),
    "scxsim_fail_every": (c_int, [_S, _UL]),
    "scxsim_clear_faults": (None, []),
    "scxsim_set_call_delay": (c_int, [_S, _UL]),
    "scxsim_call_count": (c_int, [_S, _P(_UL)]),
    "scxsim_reset_call_count": (None, []),
    "scxsim_set_lock_wait_limit": (None, [_UL]),
    "scxsim_foreign_lock_chain": (c_int, [_UL]),
    "scxsim_foreign_unlock_chain": (c_int, [_UL]),
    "scxsim_foreign_lock_device": (c_int, [_UL, _UL]),
    "scxsim_foreign_unlock_device": (c_int, [_UL, _UL]),
    "scxsim_set_tracing": (None, [c_int]),
    "scxsim_clear_trace": (None, []),
    "scxsim_trace_text": (c_int, [_S, _UL] + _OUT_BYTES),
    "scxsim_memory_peek": (c_int, _NODE + [_UL, _P(c_uint64)]),
    "scxsim_memory_poke": (c_int, _NODE + [_UL, c_uint64]),
    "scxsim_stream_send": (c_int, _NODE + [_P(c_ubyte), c_size_t]),
    "scxsim_stream_receive": (c_int, _NODE + _OUT_BYTES),
    "scxsim_probe_set": (c_int, _NODE + [_P(c_ubyte), c_size_t]),
    "scxsim_source_get": (c_int, _NODE + _OUT_BYTES),
    "scxsim_node_instruction": (c_int, _NODE + [_P(_UL)]),
    "scxsim_open_handle_count": (_UL, [_UL]),
    "scxsim_device_locked": (c_int, [_UL, _UL]),
}


__all__ = [
    "FUNCTIONS", "SimError", "load_board", "load_board_file", "default_board", "reset", "add_cable",
    "remove_cable", "renew_chain_handle", "set_cable_name", "set_cable_full_name", "set_cable_flags",
    "insert_device", "replace_device", "remove_device", "set_idcode", "fail_call", "fail_every",
    "clear_faults", "set_call_delay", "call_count", "reset_call_count", "set_lock_wait_limit",
    "foreign_lock_chain", "foreign_unlock_chain", "foreign_lock_device", "foreign_unlock_device",
    "set_tracing", "clear_trace", "trace", "memory_peek", "memory_poke", "stream_send", "stream_receive",
    "probe_set", "source_get", "node_instruction", "open_handle_count", "device_locked",
]


def __dir__() -> List[str]:
    """The controls, without the helpers this module imports."""
    return sorted(__all__)


class SimError(Exception):
    """The simulated world refused a control call."""


_lock = threading.Lock()
_functions: Optional[Dict[str, Callable]] = None


def _c(name: str) -> Callable:
    global _functions
    with _lock:
        if _functions is None:
            libs = _loader.libraries()
            # Under another backend the simulated world is there but serves
            # nothing: its answers would be about a board nobody scans.
            backend = _backend.backend_name()
            if backend not in (None, "sim"):
                raise SimError(f"the JTAG backend of this process is {backend}, not the simulated world: "
                               "sld.sim controls nothing here")
            try:
                table = {n: getattr(libs.scx, n) for n in _PROTOTYPES}
            except AttributeError as missing:
                raise SimError(f"the SCX library from {libs.root} has no simulator control: {missing}") from None
            for n, (restype, argtypes) in _PROTOTYPES.items():
                table[n].restype, table[n].argtypes = restype, argtypes
            _functions = table
        return _functions[name]


def _ok(result: int, what: str) -> None:
    if not result:
        raise SimError(what)


def _with_message(name: str, *args: Any) -> None:
    error = ctypes.create_string_buffer(_ERROR_SIZE)
    if not _c(name)(*args, error, _ERROR_SIZE):
        raise SimError(_convert.decode(error.value) or f"{name} refused")


def _take_bytes(name: str, *args: Any) -> bytes:
    """Calls a function that hands bytes over in malloc'd memory."""
    memory, count = c_void_p(), c_size_t()
    _ok(_c(name)(*args, byref(memory), byref(count)), f"{name}: out of memory")
    try:
        return ctypes.string_at(memory, count.value) if memory.value else b""
    finally:
        _c("scxsim_free")(memory)


def _json(value: object, what: str) -> bytes:
    if isinstance(value, dict):
        return json.dumps(value).encode()
    return _convert.text(value, what)


def _id(value: object, what: str = "persistent id") -> int:
    return _convert.unsigned(value, what)


def _fn(name: object) -> bytes:
    if name not in FUNCTIONS:
        raise ValueError(f"unknown scx_ function {name!r}; one of {', '.join(FUNCTIONS)}")
    return str(name).encode()


def _node(cable: int, position: int, node: int) -> tuple:
    return _id(cable), _id(position, "position"), _convert.unsigned(node, "node index", 0xFFFFFFFF)


def _where(cable: int, position: int, node: int) -> str:
    return f"cable {cable}, position {position}, node {node}"


# ---- Boards -------------------------------------------------------------------

def load_board(board: Json) -> None:
    """Replaces the whole world with a board (JSON text or a dict; format in
    platform/scx/sim/README.md). On failure the world stays as it was."""
    _with_message("scxsim_load_board_string", _json(board, "board"))


def load_board_file(path: str) -> None:
    _with_message("scxsim_load_board_file", _convert.text(str(path), "path"))


def default_board() -> Dict[str, Any]:
    """The built-in default board."""
    return json.loads(_take_bytes("scxsim_default_board_json"))


def reset() -> None:
    """Back to the first board, with no faults, delays, foreign locks or
    trace. Open JTAG handles become unknown: close hubs first."""
    _c("scxsim_reset")()


# ---- Hot-plug ----------------------------------------------------------------

def add_cable(cable: Json) -> None:
    _with_message("scxsim_add_cable", _json(cable, "cable"))


def remove_cable(persistent_id: int) -> None:
    _ok(_c("scxsim_remove_cable")(_id(persistent_id)), f"no cable {persistent_id}")


def renew_chain_handle(persistent_id: int) -> None:
    """Gives the cable a new chain handle, as a server does after a reconnect."""
    _ok(_c("scxsim_renew_chain_handle")(_id(persistent_id)), f"no cable {persistent_id}")


def set_cable_name(persistent_id: int, name: str) -> None:
    """The short name; "" leaves the cable without one."""
    _ok(_c("scxsim_set_cable_name")(_id(persistent_id), _convert.text(name, "name")), f"no cable {persistent_id}")


def set_cable_full_name(persistent_id: int, full_name: str) -> None:
    _ok(_c("scxsim_set_cable_full_name")(_id(persistent_id), _convert.text(full_name, "full name")),
        f"no cable {persistent_id}")


def set_cable_flags(persistent_id: int, flags: int) -> None:
    _ok(_c("scxsim_set_cable_flags")(_id(persistent_id), _id(flags, "flags")), f"no cable {persistent_id}")


def insert_device(persistent_id: int, position: int, device: Json) -> None:
    """Inserts a device (JSON text or dict) before position (= length: at the end)."""
    _with_message("scxsim_insert_device", _id(persistent_id), _id(position, "position"), _json(device, "device"))


def replace_device(persistent_id: int, position: int, device: Json) -> None:
    _with_message("scxsim_replace_device", _id(persistent_id), _id(position, "position"), _json(device, "device"))


def remove_device(persistent_id: int, position: int) -> None:
    _ok(_c("scxsim_remove_device")(_id(persistent_id), _id(position, "position")),
        f"no device at cable {persistent_id}, position {position}")


def set_idcode(persistent_id: int, position: int, idcode: int) -> None:
    _ok(_c("scxsim_set_idcode")(_id(persistent_id), _id(position, "position"), _id(idcode, "IDCODE")),
        f"no device at cable {persistent_id}, position {position}, or IDCODE beyond 32 bits")


# ---- Faults and timing -------------------------------------------------------

def fail_call(function: str, k: int, code: int) -> None:
    """The k-th call of function from now on (1: the next) answers code instead
    of doing its work (0: success without doing anything)."""
    _ok(_c("scxsim_fail_call")(_fn(function), _id(k, "k"), _id(code, "code")), "fail_call refused")


def fail_every(function: str, code: int) -> None:
    """Every call of function answers code until clear_faults()."""
    _ok(_c("scxsim_fail_every")(_fn(function), _id(code, "code")), "fail_every refused")


def clear_faults() -> None:
    _c("scxsim_clear_faults")()


def set_call_delay(function: str, microseconds: int) -> None:
    """Every call of function takes at least this long (0 clears)."""
    _ok(_c("scxsim_set_call_delay")(_fn(function), _id(microseconds, "delay")), "set_call_delay refused")


def call_count(function: str = "any") -> int:
    """scx_ calls made since reset_call_count(), faulted ones included."""
    count = c_ulong()
    _ok(_c("scxsim_call_count")(_fn(function), byref(count)), "call_count refused")
    return count.value


def reset_call_count() -> None:
    _c("scxsim_reset_call_count")()


def set_lock_wait_limit(milliseconds: Optional[int]) -> None:
    """Caps every JTAG lock wait at this many milliseconds; None lifts the cap."""
    _c("scxsim_set_lock_wait_limit")(ULONG_MAX if milliseconds is None else _id(milliseconds, "limit"))


# ---- Foreign client ------------------------------------------------------------

def foreign_lock_chain(persistent_id: int) -> None:
    """Holds the chain lock as another JTAG client would (never waits)."""
    _ok(_c("scxsim_foreign_lock_chain")(_id(persistent_id)), f"chain lock of cable {persistent_id} not taken")


def foreign_unlock_chain(persistent_id: int) -> None:
    _ok(_c("scxsim_foreign_unlock_chain")(_id(persistent_id)),
        f"the foreign client holds no chain lock of cable {persistent_id}")


def foreign_lock_device(persistent_id: int, position: int) -> None:
    """Holds a device lock as another JTAG client would (never waits)."""
    _ok(_c("scxsim_foreign_lock_device")(_id(persistent_id), _id(position, "position")),
        f"device lock of cable {persistent_id}, position {position} not taken")


def foreign_unlock_device(persistent_id: int, position: int) -> None:
    _ok(_c("scxsim_foreign_unlock_device")(_id(persistent_id), _id(position, "position")),
        f"the foreign client holds no lock of cable {persistent_id}, position {position}")


# ---- Call trace -------------------------------------------------------------------

def set_tracing(on: bool) -> None:
    _c("scxsim_set_tracing")(1 if on else 0)


def clear_trace() -> None:
    _c("scxsim_clear_trace")()


def trace(function: Optional[str] = None, cable: int = 0) -> List[str]:
    """The scx_ calls recorded, as text ("access_dr(11,11,11)[0200]=0"), only
    those of function and on cable (persistent id) when given."""
    name = None if function is None else _fn(function)
    text = _take_bytes("scxsim_trace_text", name, _id(cable, "cable"))
    return _convert.decode(text).splitlines()


# ---- Device side of nodes ---------------------------------------------------------

def memory_peek(cable: int, position: int, node: int, address: int) -> int:
    """A word of a memory node (bit i is scan bit i)."""
    word = c_uint64()
    _ok(_c("scxsim_memory_peek")(*_node(cable, position, node), _id(address, "address"), byref(word)),
        f"no memory node at {_where(cable, position, node)}, or address {address} beyond its depth")
    return word.value


def memory_poke(cable: int, position: int, node: int, address: int, word: int) -> None:
    _ok(_c("scxsim_memory_poke")(*_node(cable, position, node), _id(address, "address"),
                                  _convert.unsigned(word, "word", (1 << 64) - 1)),
        f"no memory node at {_where(cable, position, node)}, address beyond its depth, or word wider than it")


def stream_send(cable: int, position: int, node: int, data: bytes) -> None:
    """Queues bytes the device sends to the host."""
    if not isinstance(data, (bytes, bytearray)):
        raise TypeError(f"data must be bytes, not {type(data).__name__}")
    raw = bytes(data)
    buffer = (c_ubyte * len(raw)).from_buffer_copy(raw)
    _ok(_c("scxsim_stream_send")(*_node(cable, position, node), buffer, len(raw)),
        f"no stream node at {_where(cable, position, node)}, or no room for {len(raw)} bytes")


def stream_receive(cable: int, position: int, node: int) -> bytes:
    """Takes the bytes the host has sent to the device."""
    return _take_bytes("scxsim_stream_receive", *_node(cable, position, node))


def probe_set(cable: int, position: int, node: int, bits: bytes) -> None:
    """Sets a probe node's probe vector (exactly its width in bytes)."""
    if not isinstance(bits, (bytes, bytearray)):
        raise TypeError(f"bits must be bytes, not {type(bits).__name__}")
    buffer = (c_ubyte * len(bits)).from_buffer_copy(bytes(bits))
    _ok(_c("scxsim_probe_set")(*_node(cable, position, node), buffer, len(bits)),
        f"no probe node at {_where(cable, position, node)}, or not {len(bits)} bytes wide")


def source_get(cable: int, position: int, node: int) -> bytes:
    """A probe node's source vector (b"" when there is no such node)."""
    return _take_bytes("scxsim_source_get", *_node(cable, position, node))


def node_instruction(cable: int, position: int, node: int) -> int:
    """The node's current virtual instruction (what the last update loaded)."""
    value = c_ulong()
    _ok(_c("scxsim_node_instruction")(*_node(cable, position, node), byref(value)),
        f"no node at {_where(cable, position, node)}")
    return value.value


# ---- Looking inside ------------------------------------------------------------------

def open_handle_count(persistent_id: int = 0) -> int:
    """JTAG device handles open on the cable (all cables when 0)."""
    return int(_c("scxsim_open_handle_count")(_id(persistent_id)))


def device_locked(persistent_id: int, position: int) -> bool:
    """Whether any client holds the lock of that device."""
    return bool(_c("scxsim_device_locked")(_id(persistent_id), _id(position, "position")))
