"""Build backend of the travo Python package (PEP 517), offline.

``pip install .`` (with ``--no-build-isolation``: this backend needs nothing
from the network) configures the project with CMake for the running
interpreter, builds the compiled module travo._travo, installs the package
into a staging folder and packs it as a wheel. The package's metadata comes
from the [project] table of pyproject.toml, its version from project() in
CMakeLists.txt, its files from what CMake installs. Set TRAVO_PIP_BUILD_DIR
to keep the CMake build folder between builds (it is a temporary folder
otherwise) and CMAKE_BUILD_PARALLEL_LEVEL to choose the number of jobs.
"""

from __future__ import annotations

import base64
import hashlib
import io
import os
import pathlib
import re
import subprocess
import sys
import sysconfig
import tarfile
import tempfile
import tomllib
import zipfile
from typing import Any, Dict, List, Optional

ROOT = pathlib.Path(__file__).resolve().parent.parent
PROJECT: Dict[str, Any] = tomllib.loads((ROOT / "pyproject.toml").read_text())["project"]
NAME: str = PROJECT["name"]


def _version() -> str:
    text = (ROOT / "CMakeLists.txt").read_text()
    found = re.search(r"project\(travo\s+VERSION\s+([0-9.]+)", text)
    if not found:
        raise RuntimeError("no project version in CMakeLists.txt")
    return found.group(1)


def _metadata() -> str:
    """Core metadata (PKG-INFO, METADATA) of the [project] table."""
    lines = ["Metadata-Version: 2.1", f"Name: {NAME}", f"Version: {_version()}",
             f"Summary: {PROJECT['description']}", f"Requires-Python: {PROJECT['requires-python']}"]
    lines += [f"Requires-Dist: {d}" for d in PROJECT.get("dependencies", [])]
    for extra, requirements in PROJECT.get("optional-dependencies", {}).items():
        lines.append(f"Provides-Extra: {extra}")
        lines += [f'Requires-Dist: {r}; extra == "{extra}"' for r in requirements]
    readme = PROJECT.get("readme")
    if readme:
        lines.append("Description-Content-Type: text/markdown")
        return "\n".join(lines) + "\n\n" + (ROOT / readme).read_text()
    return "\n".join(lines) + "\n"


def _tag() -> str:
    python = f"cp{sys.version_info.major}{sys.version_info.minor}"
    platform = re.sub(r"[-.]", "_", sysconfig.get_platform())
    return f"{python}-{python}-{platform}"


def _build_package(build_dir: pathlib.Path, staging: pathlib.Path) -> pathlib.Path:
    """Builds the package with CMake and installs it under `staging`; returns its site folder."""
    site = staging / "site"
    subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build_dir), "-DCMAKE_BUILD_TYPE=Release",
                    f"-DPython3_EXECUTABLE={sys.executable}", "-DTRAVO_BUILD_PYTHON=ON",
                    f"-DTRAVO_PYTHON_INSTALL_DIR={site}", "-DTRAVO_BUILD_TESTS=OFF", "-DTRAVO_BUILD_EXAMPLES=OFF",
                    "-DTRAVO_BUILD_BENCHMARKS=OFF", "-DTRAVO_BUILD_OCTAVE=OFF", "-DTRAVO_BUILD_MATLAB=OFF",
                    "-DTRAVO_BUILD_TOOLS=OFF"], check=True)
    jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
    subprocess.run(["cmake", "--build", str(build_dir), "--target", "travo_python", "-j", jobs], check=True)
    subprocess.run(["cmake", "--install", str(build_dir), "--component", "python"], check=True)
    return site


def _record_line(name: str, data: bytes) -> str:
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{name},sha256={digest},{len(data)}"


def get_requires_for_build_wheel(config_settings: Optional[Dict[str, str]] = None) -> List[str]:
    return []


def get_requires_for_build_sdist(config_settings: Optional[Dict[str, str]] = None) -> List[str]:
    return []


def build_wheel(wheel_directory: str, config_settings: Optional[Dict[str, str]] = None,
                metadata_directory: Optional[str] = None) -> str:
    with tempfile.TemporaryDirectory(prefix="travo-wheel-") as scratch:
        build_dir = pathlib.Path(os.environ.get("TRAVO_PIP_BUILD_DIR") or pathlib.Path(scratch) / "build")
        site = _build_package(build_dir.resolve(), pathlib.Path(scratch) / "staging")
        dist_info = f"{NAME}-{_version()}.dist-info"
        files = {path.relative_to(site).as_posix(): path.read_bytes()
                 for path in sorted((site / NAME).rglob("*")) if path.is_file()}
        files[f"{dist_info}/METADATA"] = _metadata().encode()
        files[f"{dist_info}/WHEEL"] = (f"Wheel-Version: 1.0\nGenerator: travo build_backend\n"
                                       f"Root-Is-Purelib: false\nTag: {_tag()}\n").encode()
        record = [_record_line(name, data) for name, data in files.items()] + [f"{dist_info}/RECORD,,"]
        files[f"{dist_info}/RECORD"] = ("\n".join(record) + "\n").encode()
        wheel_name = f"{NAME}-{_version()}-{_tag()}.whl"
        with zipfile.ZipFile(pathlib.Path(wheel_directory) / wheel_name, "w", zipfile.ZIP_DEFLATED) as wheel:
            for name, data in files.items():
                wheel.writestr(name, data)
    return wheel_name


def build_sdist(sdist_directory: str, config_settings: Optional[Dict[str, str]] = None) -> str:
    """The source tree as committed (git ls-files), with PKG-INFO."""
    base = f"{NAME}-{_version()}"
    listed = subprocess.run(["git", "ls-files", "-z"], cwd=ROOT, capture_output=True, check=True).stdout
    name = f"{base}.tar.gz"
    with tarfile.open(pathlib.Path(sdist_directory) / name, "w:gz") as sdist:
        for path in filter(None, listed.decode().split("\0")):
            sdist.add(ROOT / path, arcname=f"{base}/{path}", recursive=False)
        info = tarfile.TarInfo(f"{base}/PKG-INFO")
        data = _metadata().encode()
        info.size = len(data)
        sdist.addfile(info, io.BytesIO(data))
    return name
