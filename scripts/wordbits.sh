#!/usr/bin/env bash
# Prints the pointer width the stack is built with on this machine: 32, the phone's, where the
# kernel runs 32-bit programs; 64 where it refuses them (some virtual machines run 64-bit code
# only). CAMERA_WORD_BITS in the environment overrides the probe.
set -euo pipefail
if [ -n "${CAMERA_WORD_BITS:-}" ]; then
  echo "$CAMERA_WORD_BITS"
  exit 0
fi
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
echo 'int main(void) { return 0; }' >"$dir/probe.c"
if cc -m32 "$dir/probe.c" -o "$dir/probe" 2>/dev/null && "$dir/probe" 2>/dev/null; then
  echo 32
else
  echo 64
fi
