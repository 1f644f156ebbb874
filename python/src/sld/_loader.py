"""Finding and loading the three shared libraries, in the order they need.

libsld.so leaves the thr_ and scx_ symbols to the process, so libthr.so and
libscx.so are loaded first with RTLD_GLOBAL, which makes their symbols
visible to every library loaded after them.
"""

from __future__ import annotations

import ctypes
import os
import sysconfig
import threading
from pathlib import Path
from typing import List, NamedTuple, Optional, Sequence

#: Directories to look in instead of the default search, separated by
#: os.pathsep; each may be a build tree, an install prefix or a library
#: directory.
ENV_VAR = "SLD_LIBRARY_DIR"


class LibraryNotFound(OSError):
    """The shared libraries could not be found or loaded."""


class Libraries(NamedTuple):
    thr: ctypes.CDLL
    scx: ctypes.CDLL
    sld: ctypes.CDLL
    root: str  # where they were found


# File names to try, and the folders of a build tree that hold them.
_WANTED = (
    ("thr", ("libthr.so",), "platform/thr"),
    ("scx", ("libscx.so",), "platform/scx"),
    ("sld", ("libsld.so.1", "libsld.so"), "."),
)


def _library_dirs(root: Path) -> List[Path]:
    dirs = [root, root / "lib", root / "lib64"]
    multiarch = sysconfig.get_config_var("MULTIARCH")
    if multiarch:
        dirs.append(root / "lib" / multiarch)
    return dirs


def _find_in(root: Path) -> "tuple[dict, list]":
    found, missing = {}, []
    for key, names, build_folder in _WANTED:
        candidates = [d / n for d in [root / build_folder] + _library_dirs(root) for n in names]
        hit = next((c for c in candidates if c.is_file()), None)
        if hit is None:
            missing.append(names[0])
        else:
            found[key] = hit
    return found, missing


def _installed_dirs() -> List[Path]:
    """The library directory recorded at installation, if CMake installed us."""
    try:
        from . import _installed  # type: ignore[attr-defined]
    except ImportError:
        return []
    return [Path(d) for d in getattr(_installed, "LIBRARY_DIRS", [])]


def _source_tree_dirs() -> List[Path]:
    """The x64 build tree when the package runs from the project's source tree."""
    here = Path(__file__).resolve()
    if len(here.parents) < 4:
        return []
    repo = here.parents[3]
    return [repo / "build" / "x64"] if (repo / "include" / "sld.h").is_file() else []


def search_roots(environ: Optional[dict] = None) -> List[Path]:
    """Where the libraries are looked for, in order."""
    environ = os.environ if environ is None else environ
    override = environ.get(ENV_VAR)
    if override:
        return [Path(p) for p in override.split(os.pathsep) if p]
    return _installed_dirs() + _source_tree_dirs()


def _load_from(found: dict, root: str) -> Libraries:
    mode = ctypes.RTLD_GLOBAL
    thr = ctypes.CDLL(str(found["thr"]), mode=mode)
    scx = ctypes.CDLL(str(found["scx"]), mode=mode)
    sld = ctypes.CDLL(str(found["sld"]), mode=mode)
    return Libraries(thr, scx, sld, root)


def _load_from_system() -> Libraries:
    mode = ctypes.RTLD_GLOBAL
    return Libraries(
        ctypes.CDLL("libthr.so", mode=mode),
        ctypes.CDLL("libscx.so", mode=mode),
        ctypes.CDLL("libsld.so.1", mode=mode),
        "the system's library path",
    )


def find_and_load(roots: Sequence[Path], use_system: bool) -> Libraries:
    """Loads the libraries from the first root that has all three."""
    looked = []
    for root in roots:
        found, missing = _find_in(root)
        if not missing:
            try:
                return _load_from(found, str(root))
            except OSError as e:
                looked.append(f"  {root}: found but not loadable: {e}")
                continue
        looked.append(f"  {root}: no {', '.join(missing)}")
    if use_system:
        try:
            return _load_from_system()
        except OSError as e:
            looked.append(f"  the system's library path (ld.so): {e}")
    raise LibraryNotFound(
        "cannot load libthr.so, libscx.so and libsld.so; looked in\n"
        + "\n".join(looked)
        + f"\nSet {ENV_VAR} to the build tree (build/x64) or the install prefix that holds them."
    )


_lock = threading.Lock()
_loaded: Optional[Libraries] = None


def libraries() -> Libraries:
    """The loaded libraries, loading them on first use."""
    global _loaded
    with _lock:
        if _loaded is None:
            overridden = bool(os.environ.get(ENV_VAR))
            _loaded = find_and_load(search_roots(), use_system=not overridden)
        return _loaded
