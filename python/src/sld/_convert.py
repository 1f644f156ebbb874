"""Checks of arguments before they reach the library, and the conversion
between Python values and scan buffers.

Scan buffers hold bit j of a scan in bit j % 8 of byte j // 8, and an int's
bit 0 is scan bit 0: the int is the buffer read as a little-endian number.
"""

from __future__ import annotations

from typing import Optional, Union

from ._capi import ULONG_MAX

Bits = Union[int, bytes, bytearray, memoryview]

#: Longest scan accepted, in bits (a 2 MiB buffer); longer ones are
#: refused before any memory is set aside for them.
MAX_SCAN_BITS = 1 << 24


def unsigned(value: object, what: str, maximum: int = ULONG_MAX, minimum: int = 0) -> int:
    """value as an int in minimum..maximum, or TypeError/ValueError naming it."""
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError(f"{what} must be an int, not {type(value).__name__}")
    if not minimum <= value <= maximum:
        raise ValueError(f"{what} must be in {minimum}..{maximum}, not {value}")
    return value


def text(value: object, what: str) -> bytes:
    """A name for the library: str (or bytes) without NUL characters."""
    if isinstance(value, str):
        encoded = value.encode("utf-8", "surrogateescape")
    elif isinstance(value, bytes):
        encoded = value
    else:
        raise TypeError(f"{what} must be a str, not {type(value).__name__}")
    if b"\0" in encoded:
        raise ValueError(f"{what} must not contain NUL characters")
    return encoded


def decode(raw: bytes) -> str:
    """A name from the library; bytes that are not UTF-8 survive a round trip."""
    return raw.decode("utf-8", "surrogateescape")


def byte_length(length: int) -> int:
    return (length + 7) // 8


def scan_length(value: object) -> int:
    return unsigned(value, "scan length", MAX_SCAN_BITS, minimum=1)


def to_buffer(data: Bits, length: int) -> bytes:
    """The scan buffer for data: an int below 2**length, or at most
    (length + 7) // 8 bytes without bits beyond the scan (zero-padded)."""
    size = byte_length(length)
    if isinstance(data, bool):
        raise TypeError("scan data must be an int or bytes, not bool")
    if isinstance(data, int):
        if data < 0:
            raise ValueError(f"scan data must not be negative, not {data}")
        if data.bit_length() > length:
            bits = data.bit_length()
            raise ValueError(f"scan data 0x{data:x} has {bits} bits, longer than the {length}-bit scan")
        return data.to_bytes(size, "little")
    if isinstance(data, (bytes, bytearray, memoryview)):
        raw = bytes(data)
        if len(raw) > size or int.from_bytes(raw, "little").bit_length() > length:
            raise ValueError(f"scan data of {len(raw)} bytes has bits beyond the {length}-bit scan")
        return raw.ljust(size, b"\0")
    raise TypeError(f"scan data must be an int or bytes, not {type(data).__name__}")


def from_buffer(raw: bytes, length: int, as_bytes: bool) -> Union[int, bytes]:
    """The captured bits of a scan, with any bits beyond it cleared."""
    value = int.from_bytes(raw, "little") & ((1 << length) - 1)
    return value.to_bytes(byte_length(length), "little") if as_bytes else value


def optional_bits(data: Optional[Bits], length: int) -> Optional[bytes]:
    return None if data is None else to_buffer(data, length)
