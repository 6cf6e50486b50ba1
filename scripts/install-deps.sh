#!/usr/bin/env bash
# Installs what building and testing travo needs, from Debian's packages.
set -euo pipefail
packages=(
  build-essential cmake pkg-config clang clang-format
  libgtest-dev libgmock-dev libbenchmark-dev
  octave liboctave-dev gnuplot-nox ghostscript fonts-freefont-otf
  libcli11-dev nlohmann-json3-dev zlib1g-dev libplplot-dev plplot-driver-cairo fonts-dejavu-core
  python3-dev python3-numpy python3-scipy python3-pytest python3-hypothesis python3-venv python3-pip
  pybind11-dev mypy
  # benchmarking campaigns: solvers, Dask, figures
  python3-nlopt python3-distributed python3-matplotlib python3-deap
  # the report page (escaped templates)
  python3-jinja2
  # the documentation site and the manual page (scripts/build-docs.sh)
  doxygen python3-sphinx python3-myst-parser python3-markdown-it python3-breathe furo
  python3-sphinxcontrib.programoutput libjs-katex groff-base
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
