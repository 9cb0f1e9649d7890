#!/usr/bin/env bash
# Checks that every C++ file git tracks is laid out as .clang-format says.
#   scripts/check_format.sh         list the files that differ; exit 1 if any
#   scripts/check_format.sh --fix   rewrite those files in place
# The version is pinned: another clang-format release lays some lines out
# differently.
set -euo pipefail
cd "$(dirname "$0")/.."

tool=${CLANG_FORMAT:-clang-format-14}
if ! command -v "$tool" >/dev/null 2>&1; then
  echo "check_format: $tool not found (scripts/setup.sh installs it)" >&2
  exit 1
fi

fix=0
case "${1:-}" in
  "") ;;
  --fix) fix=1 ;;
  *) echo "usage: $0 [--fix]" >&2; exit 2 ;;
esac

files=()
while IFS= read -r f; do
  [ -f "$f" ] && files+=("$f")
done < <(git ls-files -- '*.cpp' '*.h')
if [ "$fix" -eq 1 ]; then
  printf '%s\0' "${files[@]}" | xargs -0 "$tool" -i --style=file
  exit 0
fi

bad=0
for f in "${files[@]}"; do
  if ! "$tool" --style=file "$f" | cmp -s - "$f"; then
    echo "check_format: $f is not formatted ($tool -i $f)" >&2
    bad=1
  fi
done
if [ "$bad" -ne 0 ]; then
  echo "check_format: run scripts/check_format.sh --fix" >&2
  exit 1
fi
echo "check_format: ${#files[@]} files formatted"
