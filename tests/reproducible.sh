#!/bin/bash
# Two release builds of this source tree, in two folders of different names
# and lengths, with a different time zone, locale and umask, must give
# bit-identical programs. On a difference, the differing bytes are listed.
set -euo pipefail
source_tree=$(cd "$(dirname "$0")/.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# release FOLDER: a copy of the tree in FOLDER, released unsigned there.
release() {
  mkdir -p "$1"
  tar -C "$source_tree" --exclude=./build --exclude=./.git -cf - . | tar -C "$1" -xf -
  (cd "$1" && unset "${!SETUP_SIGN_@}" && scripts/release >"$scratch/$(basename "$1").log" 2>&1) || {
    cat "$scratch/$(basename "$1").log"
    exit 1
  }
}

first=$scratch/a
second=$scratch/a-second-checkout-of-the-same-commit
release "$first"
(umask 077 && TZ=Pacific/Kiritimati LC_ALL=C.UTF-8 release "$second")

dist=build/release/dist
cat "$first/$dist/SHA256SUMS"
if diff -u "$first/$dist/SHA256SUMS" "$second/$dist/SHA256SUMS"; then
  echo "reproducible: both builds gave the same bytes"
  exit 0
fi
for program in $(awk '{ print $2 }' "$first/$dist/SHA256SUMS"); do
  cmp -s "$first/$dist/$program" "$second/$dist/$program" && continue
  echo "FAIL: $program differs between the two builds (offset, then the two bytes in octal):"
  cmp -l "$first/$dist/$program" "$second/$dist/$program" | head -20 || true
done
exit 1
