#!/usr/bin/env bash
# Sets up a fresh machine, builds and runs the whole test suite: once plain, once with
# AddressSanitizer + UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bits=$(bash scripts/wordbits.sh)
echo "=== ${bits}-bit targets"
for preset in default asan; do
  echo "=== ${preset} build"
  cmake --preset "$preset" -DCAMERA_WORD_BITS="$bits" >/dev/null
  cmake --build --preset "$preset" -j8
  echo "=== ${preset} tests"
  ctest --preset "$preset"
done
