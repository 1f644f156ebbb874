"""The package around the API: python3 -m sld list, the README example,
finding the libraries, the wheel, and the simulator controls."""

import contextlib
import io
import json
import os
import re
import subprocess
import sys
import zipfile
from pathlib import Path

import pytest

import sld
from sld import _loader, sim

PYTHON_DIR = Path(__file__).resolve().parents[1]
GOLDEN = PYTHON_DIR.parent / "tests" / "tool" / "golden" / "list_default.txt"


def run_module(*args, **env):
    environment = dict(os.environ, PYTHONPATH=str(PYTHON_DIR / "src"), **env)
    return subprocess.run([sys.executable, "-m", "sld", *args], capture_output=True, env=environment, timeout=60)


def test_list_prints_the_tree_of_sldtool():
    result = run_module("list")
    assert result.returncode == 0, result.stderr
    assert result.stdout == GOLDEN.read_bytes()


def test_readme_example_runs():
    readme = (PYTHON_DIR / "README.md").read_text()
    example = re.search(r"```python\n(.*?)```", readme, re.DOTALL).group(1)
    assert len(example.splitlines()) <= 10
    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        exec(compile(example, "README.md", "exec"), {})
    assert out.getvalue().splitlines()[-1] == "0xdeadbeef"


def test_missing_libraries_are_named_with_where_they_were_looked_for(tmp_path):
    (tmp_path / "platform" / "thr").mkdir(parents=True)
    (tmp_path / "platform" / "thr" / "libthr.so").write_bytes(b"")
    with pytest.raises(_loader.LibraryNotFound) as caught:
        _loader.find_and_load([tmp_path], use_system=False)
    message = str(caught.value)
    assert f"{tmp_path}: no libscx.so, libsld.so.1" in message and "SLD_LIBRARY_DIR" in message
    result = run_module("list", SLD_LIBRARY_DIR=str(tmp_path))
    assert result.returncode == 1 and b"no libscx.so" in result.stderr and result.stdout == b""


def test_the_variable_overrides_every_other_place(tmp_path):
    assert _loader.search_roots({"SLD_LIBRARY_DIR": f"{tmp_path}:/x"}) == [tmp_path, Path("/x")]
    assert PYTHON_DIR.parent / "build" / "x64" in _loader.search_roots({})


def test_wheel_holds_the_package_and_its_record(tmp_path):
    sys.path.insert(0, str(PYTHON_DIR / "build_backend"))
    try:
        import sld_build
    finally:
        sys.path.pop(0)
    with zipfile.ZipFile(tmp_path / sld_build.build_wheel(str(tmp_path))) as wheel:
        names = set(wheel.namelist())
        record = wheel.read("sld-1.0.0.dist-info/RECORD").decode()
    assert {"sld/__init__.py", "sld/sim.py", "sld/py.typed", "sld-1.0.0.dist-info/METADATA"} <= names
    assert {line.split(",")[0] for line in record.splitlines()} == names


def test_board_errors_name_the_place_and_keep_the_world():
    with pytest.raises(sim.SimError, match=r"cables\[0\]\.bogus: unknown field"):
        sim.load_board({"cables": [{"bogus": 1}]})
    assert [c.name for c in sld.cables()] == ["SimCable-1", "SimCable-2"]
    sim.load_board({"cables": []})
    assert sld.cables() == []


def test_device_side_of_the_stream_node():
    with sld.open_hub("SimCable-1", "@1") as hub, hub.open_node(1) as stream:
        sim.stream_send(1, 0, 1, b"hi")
        stream.ir(1)  # DATA: bit 8 marks a byte
        assert [stream.dr(9) for _ in range(3)] == [0x100 | ord("h"), 0x100 | ord("i"), 0]
        stream.dr(9, 0x100 | ord("x"))
        assert sim.stream_receive(1, 0, 1) == b"x"
        sim.fail_every("access_dr", 99)
        with pytest.raises(sld.SldError, match="SLD_JTAG_ERROR"):
            stream.dr(9)
        sim.clear_faults()
    assert sim.trace("access_dr")[-1] == "access_dr(9,0,9)[]=99"
    with pytest.raises(ValueError, match="unknown scx_ function"):
        sim.fail_every("acces_dr", 1)


def test_hot_plug_and_the_other_controls_reach_the_world(tmp_path):
    board_file = tmp_path / "board.json"
    board_file.write_text(json.dumps(sim.default_board()))
    sim.load_board_file(str(board_file))
    fpga_b = sim.default_board()["cables"][1]["devices"][0]
    sim.add_cable({"persistent_id": 3, "name": "Extra", "devices": [fpga_b]})
    sim.set_cable_name(3, "Renamed")
    sim.set_cable_full_name(3, "Renamed [x]")
    sim.insert_device(3, 1, dict(fpga_b, name="SECOND"))
    sim.set_idcode(3, 0, 0x12345678)
    assert sld.cables()[2] == sld.Cable("Renamed", "Renamed [x]", 3)
    assert [d.string for d in sld.devices("Renamed")] == ["@1: SIM-FPGA-B (0x12345678)", "@2: SECOND (0x02B150DD)"]
    sim.remove_device(3, 1)
    sim.remove_cable(3)
    for refused in (lambda: sim.remove_cable(3), lambda: sim.foreign_unlock_device(1, 0),
                    lambda: sim.replace_device(1, 9, fpga_b), lambda: sim.set_cable_flags(9, 0)):
        with pytest.raises(sim.SimError):
            refused()
    sim.foreign_lock_device(1, 0)
    assert sim.device_locked(1, 0)
    sim.foreign_unlock_device(1, 0)
    sim.foreign_lock_chain(1)
    sim.foreign_unlock_chain(1)
    sim.probe_set(1, 0, 2, b"\x01\x02\x03\x04")
    with sld.open_hub("SimCable-1", "@1") as hub, hub.open_node(2) as probe:
        probe.ir(1)  # PROBE
        assert probe.dr(32) == 0x04030201
        probe.ir(2)  # SOURCE
        probe.dr(32, 0xA5)
    assert sim.source_get(1, 0, 2) == b"\xa5\0\0\0"
    sim.set_call_delay("any", 0)
    sim.set_lock_wait_limit(None)
    sim.set_tracing(False)
    sim.clear_trace()
    sim.reset_call_count()
    sld.refresh_hardware()
    assert sim.trace() == [] and sim.call_count() == sim.call_count("get_hardware") > 0


def test_an_installed_package_works_from_its_prefix_alone(tmp_path):
    build = Path(os.environ.get("SLD_LIBRARY_DIR", PYTHON_DIR.parent / "build" / "x64").split(os.pathsep)[0])
    prefix = tmp_path / "prefix"
    try:
        installed = subprocess.run(["cmake", "--install", str(build), "--prefix", str(prefix)],
                                   capture_output=True, timeout=120)
    except FileNotFoundError:
        pytest.fail("cmake is needed to install the build tree")
    assert installed.returncode == 0, installed.stderr
    packages = [init.parent.parent for init in prefix.rglob("sld/__init__.py")]
    assert len(packages) == 1
    environment = {k: v for k, v in os.environ.items() if k not in ("SLD_LIBRARY_DIR", "PYTHONPATH")}
    code = ("import sld; print(sld._loader.libraries().root); print(sld.status_sentence(12)); "
            "print([c.name for c in sld.cables()])")
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, timeout=60, cwd=tmp_path,
                            env=dict(environment, PYTHONPATH=str(packages[0])))
    assert result.returncode == 0, result.stderr
    root, sentence, cables = result.stdout.decode().splitlines()
    assert Path(root).is_relative_to(prefix) and "open the hub again" in sentence
    assert cables == "['SimCable-1', 'SimCable-2']"


def test_sim_refuses_to_answer_for_a_world_nobody_scans():
    code = "from sld import sim\ntry:\n    sim.memory_peek(1, 0, 0, 0)\nexcept sim.SimError as e:\n    print(e)"
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, timeout=60,
                            env=dict(os.environ, PYTHONPATH=str(PYTHON_DIR / "src"), SCX_OPENOCD="127.0.0.1:1"))
    assert b"backend of this process is openocd" in result.stdout, result.stderr
    assert "Any" not in dir(sim) and "memory_peek" in dir(sim)
    assert "idcode=0x020A10DD" in repr(sld.cables()[0].devices()[0])


def test_every_status_of_the_headers_and_only_those():
    include = PYTHON_DIR.parent / "include"
    enum = re.search(r"enum SLD_STATUS \{(.*?)\};", (include / "sld.h").read_text(), re.DOTALL).group(1)
    numbers = {name: int(value) for name, value in re.findall(r"(SLD_\w+) = (\d+)", enum)}
    assert {status.name: status.value for status in sld.Status} == numbers
    table = re.findall(r'"(SLD_\w+)",', (include / "sld_status.h").read_text())
    assert sorted(table) == sorted(numbers)
    assert all(sld.status_sentence(n) != sld.status_sentence(999) for n in numbers.values())
