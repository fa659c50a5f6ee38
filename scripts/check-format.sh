#!/bin/sh
# Fails, naming the files, when any C or C++ source of the tree differs from
# what clang-format makes of it with the committed .clang-format.
#   scripts/check-format.sh          check
#   scripts/check-format.sh --fix    rewrite the files in place
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
files=$(git ls-files --cached --others --exclude-standard '*.c' '*.cpp' '*.h')
if [ "${1:-}" = --fix ]; then
    # shellcheck disable=SC2086
    clang-format -i $files
    exit 0
fi
bad=
for f in $files; do
    if ! clang-format "$f" | cmp -s - "$f"; then
        bad="$bad $f"
    fi
done
if [ -n "$bad" ]; then
    echo "not formatted (run scripts/check-format.sh --fix):" >&2
    for f in $bad; do
        echo "  $f" >&2
        clang-format "$f" | diff -u "$f" - | head -20 >&2 || true
    done
    exit 1
fi
echo "formatting: $(echo "$files" | wc -w) files as .clang-format wants them"
