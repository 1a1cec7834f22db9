#!/usr/bin/env bash
# Sets up a fresh machine, builds and runs the whole test suite: once plain, once with
# AddressSanitizer + UndefinedBehaviorSanitizer, and the phone's own 32-bit tree (where the
# machine runs no 32-bit programs, its chosen suites run under qemu-i386, see
# cmake/EmulatedTests.cmake). Ends with one line per build: "N passed, N failed".
#
# The suites run side by side and beside the last build: the board paces its frames for
# tests, so their outcomes do not depend on the machine's load.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bits=$(bash scripts/wordbits.sh)
logs=build-logs
mkdir -p "$logs"

builds=(default asan phone32)
declare -A configure_args=(
  [default]="-DCAMERA_WORD_BITS=$bits"
  [asan]="-DCAMERA_WORD_BITS=$bits"
  [phone32]="-DCAMERA_TARGET_EMULATOR="
)
if [ "$bits" = 64 ]; then
  configure_args[phone32]="-DCAMERA_TARGET_EMULATOR=qemu-i386"
fi

declare -A built
build() {
  local b=$1
  echo "=== ${b} build"
  # shellcheck disable=SC2086
  if cmake --preset "$b" ${configure_args[$b]} >"$logs/$b-configure.log" 2>&1 &&
     cmake --build --preset "$b" -j8 >"$logs/$b-build.log" 2>&1; then
    built[$b]=1
  else
    tail -40 "$logs/$b-configure.log" "$logs/$b-build.log" 2>/dev/null || true
    echo "=== ${b}: the build failed ($logs/)"
  fi
}
pids=()
run_suite() {
  local b=$1
  [ -n "${built[$b]:-}" ] || return 0
  echo "=== ${b} tests (log: $logs/$b-test.log)"
  ( ctest --preset "$b" >"$logs/$b-test.log" 2>&1 || true ) &
  pids+=($!)
}
# Each suite starts as soon as its tree is built, the longest (the sanitized one) first;
# the later builds share the machine with it.
build asan
run_suite asan
build default
run_suite default
build phone32
run_suite phone32
[ ${#pids[@]} -gt 0 ] && wait "${pids[@]}"

status=0
lines=()
for b in "${builds[@]}"; do
  if [ -z "${built[$b]:-}" ]; then
    lines+=("$b: 0 passed, 1 failed (the build failed)")
    status=1
    continue
  fi
  sed -n '/The following tests FAILED:/,$p' "$logs/$b-test.log"
  summary=$(bash scripts/ctest-summary.sh <"$logs/$b-test.log")
  grep -q ' skipped$' <<<"$summary" && echo "$b: $(head -1 <<<"$summary")"
  line=$(tail -1 <<<"$summary")
  lines+=("$b: $line")
  case "$line" in *" 0 failed") ;; *) status=1 ;; esac
done
printf '%s\n' "${lines[@]}" | tee "$logs/summary.txt"
exit $status
