"""python3 -m sld list: the tree of cables, devices, hubs and nodes."""

from __future__ import annotations

import argparse
import io
import sys
from typing import List, Optional

from ._loader import LibraryNotFound
from .errors import SldError
from .listing import write_tree


def main(argv: Optional[List[str]] = None) -> int:
    parser = argparse.ArgumentParser(prog="python3 -m sld", description="Debug hubs on JTAG chains.")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND")
    commands.add_parser("list", help="print every cable, device, hub and node (the default)")
    parser.parse_args(argv)
    # Names from the hardware go out byte for byte, as the library gave them.
    out = io.TextIOWrapper(sys.stdout.buffer, encoding="utf-8", errors="surrogateescape", newline="\n")
    try:
        warnings = write_tree(out)
    except (SldError, LibraryNotFound) as error:
        out.flush()
        print(f"sld: {error}", file=sys.stderr)
        return 1
    finally:
        out.detach()
    if warnings:
        print("sld: the listing is complete, but closing failed:\n" + "\n".join(warnings), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
