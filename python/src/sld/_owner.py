"""What a Hub and a Node share: one id of the library that is given back on
close, use in a with block, and calls that name it in their errors."""

from __future__ import annotations

from typing import Any, Optional, TypeVar

from .errors import check

_Self = TypeVar("_Self", bound="IdOwner")


class IdOwner:
    _api: Any
    _id_value: int

    @property
    def closed(self) -> bool:
        raise NotImplementedError

    def close(self) -> None:
        raise NotImplementedError

    @property
    def id(self) -> int:
        """The id the library gave out (ValueError once closed)."""
        return self._open_id()

    def _open_id(self) -> int:
        if self.closed:
            raise ValueError(f"{self} is closed")
        return self._id_value

    def _call(self, name: str, *args: object) -> None:
        """Calls the sld_ function name; SldError unless it succeeds."""
        check(getattr(self._api, name)(*args), name, str(self))

    def __enter__(self: _Self) -> _Self:
        self._open_id()
        return self

    def __exit__(self, kind: object, error: Optional[BaseException], trace: object) -> None:
        self.close()
