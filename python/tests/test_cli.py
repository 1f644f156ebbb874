"""python3 -m sld against the built sldtool: the same listing, options,
exit codes and naming of devices and nodes."""

import copy
import json
import os
import socket
import subprocess
import sys
from pathlib import Path

import pytest

import sld
from sld import sim
from sld.__main__ import main

PYTHON_DIR = Path(__file__).resolve().parents[1]


def build_tree() -> Path:
    roots = [Path(p) for p in os.environ.get("SLD_LIBRARY_DIR", "").split(os.pathsep) if p]
    for root in roots + [PYTHON_DIR.parent / "build" / "x64"]:
        if (root / "tools" / "sldtool").is_file():
            return root
    pytest.fail(f"no built sldtool in {roots or 'build/x64'}: build the target sldtool first")


def run(command, env):
    environment = {k: v for k, v in os.environ.items() if k not in ("SCX_OPENOCD", "SCX_SIM_BOARD")}
    environment.update(PYTHONPATH=str(PYTHON_DIR / "src"), **env)
    return subprocess.run(command, capture_output=True, env=environment, timeout=60)


def both(*args, **env):
    """(python3 -m sld, sldtool) run with the same arguments."""
    tool = build_tree() / "tools" / "sldtool"
    return run([sys.executable, "-m", "sld", *args], env), run([str(tool), *args], env)


def free_port() -> int:
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


@pytest.fixture
def crowded_board(tmp_path):
    """Two devices named SIM-FPGA-A, and two nodes with node id 4 on one hub;
    SIM-FPGA-OLD's hub made usable; a second cable named SimCable-2, whose
    device has a control character in its name."""
    board = sim.default_board()
    chain = board["cables"][0]["devices"]
    twin = copy.deepcopy(chain[0])
    twin["idcode"] = "0x020A20DD"
    twin["hub"]["nodes"].append(copy.deepcopy(twin["hub"]["nodes"][3]))
    chain.append(twin)
    chain[2]["hub"]["version"] = 1
    second = copy.deepcopy(board["cables"][1])
    second.update(persistent_id=3, full_name="SimCable-2 [sim:3]")
    second["devices"][0].update(name="SIM\x01B", idcode="0x02B160DD")
    board["cables"].append(second)
    path = tmp_path / "crowded.json"
    path.write_text(json.dumps(board))
    return path


@pytest.mark.parametrize("args", [["list"], ["--json"], ["list", "--json"]])
def test_listing_is_the_tools(args, crowded_board):
    for extra in ([], ["--board", str(crowded_board)]):
        mine, tools = both(*extra, *args)
        assert (mine.returncode, mine.stdout) == (tools.returncode, tools.stdout), mine.stderr
        assert mine.returncode == 0


def test_unreachable_and_malformed_servers_end_the_run_as_in_the_tool():
    server = f"127.0.0.1:{free_port()}"
    for args, env in ((["--openocd", server, "list"], {}), (["--json"], {"SCX_OPENOCD": server})):
        mine, tools = both(*args, **env)
        assert (mine.returncode, mine.stdout) == (tools.returncode, tools.stdout) and mine.returncode == 1
        assert f"cannot reach the OpenOCD server at {server}".encode() in mine.stderr
    mine, tools = both("--openocd", "garbage")
    assert mine.returncode == tools.returncode == 2 and mine.stdout == b""
    mine, _ = both("list", SCX_OPENOCD="garbage")
    assert mine.returncode == 2 and b"SCX_OPENOCD" in mine.stderr and mine.stdout == b""
    mine, tools = both("--board", "/nonexistent.json")
    assert mine.returncode == tools.returncode == 4 and b"No such file or directory" in mine.stderr


def test_a_hub_not_examined_for_an_error_fails_the_run(capfd):
    sim.fail_every("open_device", 81)
    assert main(["list"]) == 1
    out, err = capfd.readouterr()
    assert "`-- not examined, an error: sld_hub_open: SLD_SERVER_ERROR" in out
    assert "an error kept 4 of the cables and devices listed from being examined" in err
    sim.clear_faults()
    assert main(["--json"]) == 0  # "no hub" and "hub refused" are answers


def tool_target(board, device, node):
    tool = build_tree() / "tools" / "sldtool"
    result = run([str(tool), "--board", str(board), "ir", "--json", "-c", "SimCable-1", "-d", device,
                  "-n", node, "0"], {})
    if result.returncode == 3:
        return None
    assert result.returncode == 0, result.stderr
    target = json.loads(result.stdout)["target"]
    return target["device"], target["node"]


def package_target(device, node):
    try:
        with sld.open_hub("SimCable-1", device) as hub, hub.open_node(node) as opened:
            return hub.device, opened.index
    except sld.SldError as error:
        assert error.status in (sld.Status.SLD_DEVICE_NOT_FOUND, sld.Status.SLD_INVALID_NODE_INDEX)
        return None


@pytest.mark.parametrize("device, node", [
    ("@1", "0"), ("@0x4", "0"), ("SIM-FPGA-A", "0"), ("SIM-FPGA-B", "0"), ("SIM-FPGA-OLD", "id:4"), ("@4: SIM-FPGA-A (0x020A20DD)", "1"),
    ("@4", "id:1"), ("@1", "ID:4"), ("@4", "id:4"), ("@1", "id:9"), ("@9", "0"), ("nothing", "0"), ("@1", "0b11"),
])
def test_devices_and_nodes_are_named_as_the_tool_names_them(crowded_board, device, node):
    sim.load_board_file(str(crowded_board))
    assert package_target(device, node) == tool_target(crowded_board, device, node)
