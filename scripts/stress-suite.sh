#!/usr/bin/env bash
# Not run in CI: the whole suite, plain and with ASan + UBSan, ROUNDS times at once (default 3)
# while 8 busy-loop threads load the machine. Prints each run's "N passed, N failed" and
# exits 1 when any run failed. Builds both trees first (scripts/test.sh's presets).
#
#   bash scripts/stress-suite.sh [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-3}
bits=$(bash scripts/wordbits.sh)
for preset in default asan; do
  cmake --preset "$preset" -DCAMERA_WORD_BITS="$bits" >/dev/null
  cmake --build --preset "$preset" -j8 >/dev/null
done

logs=$(mktemp -d)
busy=()
cleanup() {
  for p in "${busy[@]}"; do kill "$p" 2>/dev/null || true; done
}
trap cleanup EXIT
for _ in $(seq 8); do
  (while :; do :; done) &
  busy+=($!)
done

runs=()
for r in $(seq "$rounds"); do
  for preset in default asan; do
    # The runs share the trees: each test works in a private copy of the device image.
    ( ctest --preset "$preset" >"$logs/$preset-$r.log" 2>&1 || true ) &
    runs+=($!)
  done
done
wait "${runs[@]}"
cleanup
busy=()

status=0
for r in $(seq "$rounds"); do
  for preset in default asan; do
    line=$(bash scripts/ctest-summary.sh <"$logs/$preset-$r.log" | tail -1)
    echo "round $r $preset: $line"
    case "$line" in *" 0 failed") ;; *) status=1; sed -n '/The following tests FAILED:/,$p' "$logs/$preset-$r.log" | grep -E '^\s+[0-9]+ - ' ;; esac
  done
done
echo "logs: $logs"
exit $status
