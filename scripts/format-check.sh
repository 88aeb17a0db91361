#!/usr/bin/env bash
# Fails when a C++ file of the tree is not formatted as .clang-format says, naming each place.
# To fix: clang-format -i <file>.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
[ ${#files[@]} -gt 0 ] || { echo "no C++ files found" >&2; exit 1; }
clang-format --dry-run -Werror "${files[@]}"
echo "format: ${#files[@]} files checked"
