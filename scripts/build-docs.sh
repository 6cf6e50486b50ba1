#!/usr/bin/env bash
# Builds travo (the tool and the Python package, which the site documents)
# and then the documentation site into BUILD_DIR/docs/html (default
# build/docs/html/index.html), every warning of Doxygen and Sphinx an error.
# Offline: everything comes from Debian's packages (scripts/install-deps.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j "${JOBS:-$(nproc)}" --target travo_cli travo_python
cmake --build "$build" --target docs
echo "The site: $build/docs/html/index.html"
