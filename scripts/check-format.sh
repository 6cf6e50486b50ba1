#!/usr/bin/env bash
# Checks that every tracked C and C++ file is formatted as .clang-format
# says; lists the files that are not and exits 1. Formatting itself:
#   git ls-files '*.c' '*.h' '*.cpp' '*.hpp' | xargs clang-format -i
# CLANG_FORMAT names another clang-format (the style is that of version 14).
set -euo pipefail
cd "$(dirname "$0")/.."
clang_format="${CLANG_FORMAT:-clang-format}"
if ! command -v "$clang_format" >/dev/null; then
  echo "check-format: $clang_format not found (install clang-format)" >&2
  exit 2
fi
status=0
while IFS= read -r -d '' file; do
  if ! "$clang_format" --dry-run --Werror "$file" 2>/dev/null; then
    echo "not formatted: $file"
    status=1
  fi
done < <(git ls-files -z '*.c' '*.h' '*.cpp' '*.hpp')
exit "$status"
