"""A PEP 517 build backend for this pure-Python package, standard library
only: a wheel is a zip of src/sld with its metadata, an sdist a tarball of
this folder."""

from __future__ import annotations

import base64
import hashlib
import re
import tarfile
import zipfile
from pathlib import Path
from typing import Dict, List, Optional

HERE = Path(__file__).resolve().parent.parent
PACKAGE = HERE / "src" / "sld"
WHEEL = b"Wheel-Version: 1.0\nGenerator: sld_build\nRoot-Is-Purelib: true\nTag: py3-none-any\n"
SDIST_FILES = ["pyproject.toml", "README.md", "build_backend/sld_build.py"]


def _project() -> Dict[str, str]:
    """The [project] strings of pyproject.toml (no TOML parser before 3.11)."""
    text = (HERE / "pyproject.toml").read_text(encoding="utf-8")
    section = text.split("[project]", 1)[1].split("\n[", 1)[0]
    return dict(re.findall(r'^([\w-]+)\s*=\s*"([^"]*)"', section, re.MULTILINE))


def _metadata() -> str:
    p = _project()
    readme = (HERE / p["readme"]).read_text(encoding="utf-8")
    return (
        f"Metadata-Version: 2.1\nName: {p['name']}\nVersion: {p['version']}\nSummary: {p['description']}\n"
        f"Requires-Python: {p['requires-python']}\nDescription-Content-Type: text/markdown\n\n{readme}"
    )


# The package reads the status names and sentences from this header: taken
# from the project's include folder, or from the sdist's package folder.
STATUS_HEADER = "sld_status.h"


def _status_header() -> Path:
    for candidate in (HERE.parent / "include" / STATUS_HEADER, PACKAGE / STATUS_HEADER):
        if candidate.is_file():
            return candidate
    raise FileNotFoundError(f"{STATUS_HEADER} is neither in {HERE.parent / 'include'} nor in {PACKAGE}")


def _package_files() -> List[Path]:
    files = [f for f in PACKAGE.iterdir() if f.suffix == ".py" or f.name == "py.typed"]
    return sorted(files + [_status_header()])


def _record_line(name: str, data: bytes) -> str:
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{name},sha256={digest},{len(data)}"


def build_wheel(wheel_directory: str, config_settings: Optional[dict] = None,
                metadata_directory: Optional[str] = None) -> str:
    p = _project()
    dist_info = f"{p['name']}-{p['version']}.dist-info"
    wheel_name = f"{p['name']}-{p['version']}-py3-none-any.whl"
    files = {f"sld/{f.name}": f.read_bytes() for f in _package_files()}
    files[f"{dist_info}/METADATA"] = _metadata().encode()
    files[f"{dist_info}/WHEEL"] = WHEEL
    record = [_record_line(name, data) for name, data in files.items()] + [f"{dist_info}/RECORD,,"]
    files[f"{dist_info}/RECORD"] = ("\n".join(record) + "\n").encode()
    with zipfile.ZipFile(Path(wheel_directory) / wheel_name, "w", zipfile.ZIP_DEFLATED) as wheel:
        for name, data in files.items():
            wheel.writestr(name, data)
    return wheel_name


def build_sdist(sdist_directory: str, config_settings: Optional[dict] = None) -> str:
    p = _project()
    base = f"{p['name']}-{p['version']}"
    with tarfile.open(Path(sdist_directory) / f"{base}.tar.gz", "w:gz") as sdist:
        for name in SDIST_FILES:
            sdist.add(HERE / name, f"{base}/{name}")
        for f in _package_files():
            sdist.add(f, f"{base}/src/sld/{f.name}")
    return f"{base}.tar.gz"
