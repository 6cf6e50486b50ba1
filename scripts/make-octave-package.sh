#!/usr/bin/env bash
# Makes the Octave package travo-<version>.tar.gz from the source tree:
#   bash scripts/make-octave-package.sh [output folder]   (default: build)
# Install it in Octave with: pkg install travo-<version>.tar.gz
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="$(mkdir -p "${1:-$root/build}" && cd "${1:-$root/build}" && pwd)"
version="$(sed -n 's/^project(travo VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
[ -n "$version" ] || { echo "make-octave-package: no version in CMakeLists.txt" >&2; exit 1; }

stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
pkg="$stage/travo-$version"
mkdir -p "$pkg/src" "$pkg/inst"
sed "s/@VERSION@/$version/; s/@DATE@/$(date -u +%Y-%m-%d)/" "$root/octave/package/DESCRIPTION.in" > "$pkg/DESCRIPTION"
cp "$root/octave/package/COPYING" "$pkg/COPYING"
cp "$root/octave/package/Makefile" "$root/octave/travo_mex.map" "$pkg/src/"
printf '#define TRAVO_VERSION_TEXT "%s"\n' "$version" > "$pkg/src/version_text.h"
cp -r "$root/include" "$pkg/src/include"
IFS=. read -r major minor patch <<<"$version"
sed "s/@PROJECT_VERSION_MAJOR@/$major/g; s/@PROJECT_VERSION_MINOR@/$minor/g; s/@PROJECT_VERSION_PATCH@/$patch/g" \
  "$root/include/travo/version.h.in" > "$pkg/src/include/travo/version.h"
rm "$pkg/src/include/travo/version.h.in"
for d in common random spatial generator evaluation module cpp gateway; do
  mkdir -p "$pkg/src/$d"
  cp "$root/src/$d"/*.cpp "$root/src/$d"/*.hpp "$pkg/src/$d/" 2>/dev/null || true
done
mkdir -p "$pkg/src/host"
cp "$root/src/host/alloc.cpp" "$root/src/host/alloc_internal.hpp" "$root/src/host/host_alloc.h" \
   "$root/src/host/host_layer.hpp" "$pkg/src/host/"
# Examples go to inst/, on the path once the package is loaded; the help
# texts must sit beside the modules, where post_install.m puts them.
cp "$root/octave/examples/"*.m "$pkg/inst/"
mkdir -p "$pkg/help"
cp "$root/octave/inst/"*.m "$pkg/help/"
cp "$root/octave/package/post_install.m" "$pkg/"

tar -C "$stage" -czf "$out/travo-$version.tar.gz" "travo-$version"
echo "$out/travo-$version.tar.gz"
