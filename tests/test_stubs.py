"""The committed type stubs are what nanobind's stub generator makes of the built modules."""

import filecmp
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import orvalen

ROOT = Path(__file__).resolve().parents[1]
MODULES = ("deg", "tolvar", "ingrath")


def test_committed_stubs_match_the_built_modules():
    # tools/stubs.sh needs the pinned formatter; an environment without it cannot judge.
    ruff_found = subprocess.run([sys.executable, "-m", "ruff", "--version"], capture_output=True).returncode == 0
    if not ruff_found and shutil.which("ruff") is None:
        pytest.skip("ruff is not installed")
    proc = subprocess.run(
        ["bash", str(ROOT / "tools" / "stubs.sh"), "--check", sys.executable],
        capture_output=True,
        text=True,
        timeout=600,
    )
    assert proc.returncode == 0, proc.stdout + proc.stderr


@pytest.mark.parametrize("name", [m + ".pyi" for m in MODULES] + ["py.typed"])
def test_installed_package_ships_the_committed_stubs(name):
    installed = Path(orvalen.__file__).resolve().parent / name
    assert filecmp.cmp(installed, ROOT / "src" / "orvalen" / name, shallow=False)
