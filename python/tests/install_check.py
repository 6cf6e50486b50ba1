"""Both installations, ``cmake --install BUILD_DIR --component python`` into WORK_DIR/prefix and an offline
``pip install --no-build-isolation .`` into a fresh ``--system-site-packages`` venv (its CMake build folder
WORK_DIR/pip-build kept between runs), imported from a clean process, evaluate with the tool's bits.

    install_check.py BUILD_DIR WORK_DIR
"""

import os
import pathlib
import shutil
import subprocess
import sys

SOURCE = pathlib.Path(__file__).resolve().parents[2]
PROBE = "import travo, travo.campaign, sys; print(travo.__file__); print(repr(travo.generate().value([0.1, -0.2])))"


def clean_env(**extra: str) -> dict:
    env = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "LD_PRELOAD")}
    return env | {"PIP_DISABLE_PIP_VERSION_CHECK": "1", "PIP_NO_INDEX": "1"} | extra


def probe(python: str, env: dict, where: pathlib.Path, expected: str) -> None:
    out = subprocess.run([python, "-c", PROBE], env=env, cwd=where, capture_output=True, text=True, check=True)
    module_file, value = out.stdout.split()
    assert pathlib.Path(module_file).resolve().is_relative_to(where.resolve()), module_file
    assert value == expected, (value, expected)


def main() -> None:
    build_dir, work = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
    work.mkdir(parents=True, exist_ok=True)
    tool = subprocess.run([os.environ["TRAVO_CLI"], "eval", "--no-header"], input="0.1,-0.2\n",
                          capture_output=True, text=True, check=True)
    expected = tool.stdout.strip().split(",")[-1]
    prefix, venv = work / "prefix", work / "venv"
    for folder in (prefix, venv):
        shutil.rmtree(folder, ignore_errors=True)

    subprocess.run(["cmake", "--install", str(build_dir), "--component", "python", "--prefix", str(prefix)],
                   check=True, capture_output=True)
    env = clean_env(PYTHONPATH=str(next(prefix.glob("lib*/python3*/*-packages"))))
    if os.environ.get("TRAVO_TEST_PRELOAD"):  # a sanitized build's module
        env["LD_PRELOAD"] = os.environ["TRAVO_TEST_PRELOAD"]
    probe(sys.executable, env, prefix, expected)

    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", str(venv)], check=True)
    env = clean_env(TRAVO_PIP_BUILD_DIR=str(work / "pip-build"))
    subprocess.run([str(venv / "bin" / "python"), "-m", "pip", "install", "--no-build-isolation", str(SOURCE)],
                   env=env, check=True)
    probe(str(venv / "bin" / "python"), env, venv, expected)
    print("both installations import and evaluate with the tool's bits")


if __name__ == "__main__":
    main()
