"""The statuses of sld.h and the exception that carries a failing one. The
sentence of each status is read from sld_status.h, as the C programs print it."""

from __future__ import annotations

import enum
import re
from pathlib import Path
from typing import Dict, Optional

#: The header that holds the status names and sentences, the one source of them.
HEADER = "sld_status.h"


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


def _header() -> Path:
    """sld_status.h: beside the package when installed (CMake, the wheel),
    else in the include folder of the source tree the package runs from."""
    here = Path(__file__).resolve().parent
    candidates = [here / HEADER]
    if len(here.parents) >= 3:
        candidates.append(here.parents[2] / "include" / HEADER)
    for candidate in candidates:
        if candidate.is_file():
            return candidate
    raise ImportError(f"{HEADER} (the status names and sentences) is in none of: "
                      + ", ".join(str(c) for c in candidates))


# An entry of the header's table: {SLD_X, "SLD_X", "words"}, the words
# possibly split into adjacent string literals over several lines.
_LITERAL = r'"((?:[^"\\]|\\.)*)"'
_ENTRY = re.compile(r'\{\s*(SLD_\w+)\s*,\s*"(SLD_\w+)"\s*,((?:\s*' + _LITERAL + r')+)\s*\}')


def _read_sentences(text: str) -> Dict[str, str]:
    """The sentence of each status name in the text of sld_status.h."""
    sentences = {}
    for match in _ENTRY.finditer(text):
        constant, name, literals = match.group(1), match.group(2), match.group(3)
        if constant == name:
            sentences[name] = "".join(re.findall(_LITERAL, literals)).replace('\\"', '"')
    return sentences


_HEADER_TEXT = _header().read_text(encoding="utf-8")
_SENTENCES = _read_sentences(_HEADER_TEXT)
# The words sld_status_text gives a value sld.h does not define.
_OTHER = re.search(r'info \? info->text : "([^"\\]*)"', _HEADER_TEXT)
_OTHER_SENTENCE = _OTHER.group(1) if _OTHER else "a status sld.h does not define"


def status_name(status: int) -> str:
    """The sld.h name of a status, or "status N" for one sld.h does not list."""
    try:
        return Status(status).name
    except ValueError:
        return f"status {status}"


def status_sentence(status: int) -> str:
    """What a status means, in plain words."""
    try:
        return _SENTENCES[Status(status).name]
    except (ValueError, KeyError):
        return _OTHER_SENTENCE


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
