#!/usr/bin/env bash
# Fails when a C++ source of the tree is not formatted as .clang-format says, naming each file.
# Usage: check_format.sh SOURCE_ROOT
set -uo pipefail
root=${1:?source folder}
cd "$root" || exit 2
clang_format=${CLANG_FORMAT:-clang-format}
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files '*.cpp' '*.h')
else
  mapfile -t files < <(find base ui installer tests tools -name '*.cpp' -o -name '*.h')
fi
[ ${#files[@]} -gt 0 ] || { echo "no sources found under $root"; exit 1; }
bad=0
for file in "${files[@]}"; do
  if ! "$clang_format" --dry-run --Werror "$file" >/dev/null 2>&1; then
    echo "not formatted: $file (run: clang-format -i $file)"
    bad=$((bad + 1))
  fi
done
echo "${#files[@]} sources checked, $bad not formatted"
[ $bad = 0 ]
