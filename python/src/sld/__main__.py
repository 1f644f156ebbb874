"""python3 -m sld [list]: the tree of cables, devices, hubs and nodes, with
the options and exit codes of `sldtool list` (docs/sldtool.md)."""

from __future__ import annotations

import argparse
import io
import os
import sys
from typing import List, Optional

from . import _backend
from ._loader import LibraryNotFound
from .errors import SldError
from .listing import take_inventory, write_json, write_tree

PROG = "python3 -m sld"
EXIT_SUCCESS, EXIT_LIBRARY, EXIT_USAGE, EXIT_FILE = 0, 1, 2, 4
BOARD_VARIABLE, OPENOCD_VARIABLE = "SCX_SIM_BOARD", "SCX_OPENOCD"


class Failure(Exception):
    """Ends the run with a message and an exit code."""

    def __init__(self, code: int, message: str) -> None:
        super().__init__(message)
        self.code = code


def _add_options(parser: argparse.ArgumentParser, suffix: str) -> None:
    # Given before or after the command, as sldtool takes them; the two
    # places keep apart (suffix) and are merged after parsing.
    parser.add_argument("--json", dest="json" + suffix, action="store_true",
                        help="JSON instead of the tree (schema in docs/sldtool.md)")
    parser.add_argument("--board", dest="board" + suffix, metavar="FILE",
                        help="simulated board file to use (sets SCX_SIM_BOARD)")
    parser.add_argument("--openocd", dest="openocd" + suffix, metavar="HOST:PORT", action="append", default=[],
                        help="use the OpenOCD server with this Tcl RPC port (repeatable; as SCX_OPENOCD)")


def _parse(argv: Optional[List[str]]) -> argparse.Namespace:
    parser = argparse.ArgumentParser(prog=PROG, description="Debug hubs on JTAG chains.",
                                     epilog="Exit codes: 0 success, 1 a library call failed, an error kept a "
                                     "device or chain from being examined, or a server was not reached, 2 usage "
                                     "(also malformed OpenOCD servers), 4 the board file could not be used.")
    _add_options(parser, "")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND")
    _add_options(commands.add_parser("list", help="print every cable, device, hub and node (the default)"),
                 "_after")
    args = parser.parse_args(argv)
    args.json = args.json or getattr(args, "json_after", False)
    args.board = getattr(args, "board_after", None) or args.board
    args.openocd = args.openocd + getattr(args, "openocd_after", [])
    if args.board == "":
        parser.error("--board: is empty")
    if args.board is not None and args.openocd:
        parser.error("--openocd excludes --board")
    return args


def _choose_backend(args: argparse.Namespace) -> None:
    """The JTAG world of this run, before the first library call."""
    if args.board is not None:
        try:
            with open(args.board, "rb"):
                pass
        except OSError as error:
            raise Failure(EXIT_FILE, f'cannot read board file "{args.board}": {error.strerror}') from None
        # The command line wins over the environment.
        os.environ[BOARD_VARIABLE] = args.board
        os.environ.pop(OPENOCD_VARIABLE, None)
    # The variable is taken here rather than by the SCX library, so that a
    # malformed value ends the run as a malformed --openocd does. Another
    # JTAG library gives it no meaning.
    servers = args.openocd
    if not servers and os.environ.get(OPENOCD_VARIABLE) and _backend.openocd_linked():
        servers = [os.environ[OPENOCD_VARIABLE]]
    if servers:
        try:
            _backend.use_openocd(servers)
        except _backend.BackendError as error:
            raise Failure(EXIT_USAGE, f"{'--openocd' if args.openocd else OPENOCD_VARIABLE}: {error}") from None
    failure = _backend.startup_failure()
    if failure is not None and args.board is not None:
        raise Failure(EXIT_FILE, f'cannot use board file "{args.board}": {failure}')
    if failure is not None:
        raise Failure(EXIT_FILE, f"the JTAG backend did not start: {failure}")


def _list(args: argparse.Namespace) -> int:
    inventory = take_inventory()
    if args.json:
        out = io.TextIOWrapper(sys.stdout.buffer, encoding="utf-8", newline="\n")
    else:
        # Names from the hardware go out byte for byte, as the library gave them.
        out = io.TextIOWrapper(sys.stdout.buffer, encoding="utf-8", errors="surrogateescape", newline="\n")
    try:
        (write_json if args.json else write_tree)(out, inventory)
    finally:
        out.flush()
        out.detach()
    messages = []
    unexamined = inventory.unexamined()
    if unexamined:
        messages.append(f"an error kept {unexamined} of the cables and devices listed from being examined; "
                        "the listing says which and why")
    if inventory.warnings:
        messages.append("the listing is complete, but closing failed:\n" + "\n".join(inventory.warnings))
    if messages:
        raise Failure(EXIT_LIBRARY, "\n".join(messages))
    return EXIT_SUCCESS


def main(argv: Optional[List[str]] = None) -> int:
    args = _parse(argv)
    try:
        _choose_backend(args)
        code = _list(args)
    except Failure as failure:
        print(f"{PROG}: {failure}", file=sys.stderr)
        code = failure.code
    except (SldError, LibraryNotFound) as error:
        print(f"{PROG}: {error}", file=sys.stderr)
        code = EXIT_LIBRARY
    # A server that was not reached makes the run incomplete, even where
    # the rest of it succeeded.
    try:
        unreachable = _backend.unreachable_servers()
    except LibraryNotFound:
        unreachable = []
    for endpoint, reason, when in unreachable:
        print(f"{PROG}: cannot reach the OpenOCD server at {endpoint}: {reason} (tried at {when})",
              file=sys.stderr)
    return EXIT_LIBRARY if unreachable and code == EXIT_SUCCESS else code


if __name__ == "__main__":
    sys.exit(main())
