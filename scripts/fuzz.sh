#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ (clang-14, AddressSanitizer + UBSan, 32-bit where the
# machine runs 32-bit programs, see scripts/wordbits.sh) in
# build-fuzz/ and runs each for a given time.
#
#   bash scripts/fuzz.sh [SECONDS] [TARGET...]    default: 60 seconds, every target
#
# FUZZ_JOBS=N runs N targets at once (default 1). Each target's corpus grows in
# build-fuzz/corpus/<target>/ (seeded from fuzz/corpus/<target>/), its log is
# build-fuzz/fuzz-<target>.log, and anything it finds lands in build-fuzz/crashes/<target>/.
# Exit status 1 when any target found a fault.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
jobs=${FUZZ_JOBS:-1}

bash scripts/setup.sh
# clang and its runtimes (libFuzzer, sanitizers) only when fuzzing is asked for.
pkgs=(clang-14 libclang-rt-14-dev)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "fuzz: installing ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}" >/dev/null
fi

mkdir -p build-fuzz
if ! { CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCAMERA_FUZZ=ON \
         -DCAMERA_WORD_BITS="$(bash scripts/wordbits.sh)" &&
       cmake --build build-fuzz -j8 --target fuzzers; } >build-fuzz/build.log 2>&1; then
  tail -30 build-fuzz/build.log
  echo "fuzz: the build failed (build-fuzz/build.log)"
  exit 2
fi

targets=("$@")
[ ${#targets[@]} -eq 0 ] && mapfile -t targets < build-fuzz/fuzzers.txt

# The shared sanitizer runtime is found by RUNPATH, not loaded first.
export ASAN_OPTIONS=verify_asan_link_order=0:allocator_may_return_null=1:detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

run_one() {
  local t=$1
  local corpus=build-fuzz/corpus/$t crashes=build-fuzz/crashes/$t
  mkdir -p "$corpus" "$crashes"
  if build-fuzz/bin/fuzz_"$t" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2560 -print_final_stats=1 \
      -artifact_prefix="$crashes/" "$corpus" "fuzz/corpus/$t" >"build-fuzz/fuzz-$t.log" 2>&1; then
    echo "fuzz: $t: clean ($(grep -E '^#[0-9]+.*DONE' "build-fuzz/fuzz-$t.log" | tail -1 | sed 's/ *lim:.*//'))"
  else
    echo "fuzz: $t: FAULT, see build-fuzz/fuzz-$t.log and $crashes/"
    grep -E 'ERROR|SUMMARY|runtime error|deadly signal' "build-fuzz/fuzz-$t.log" | head -3 | sed 's/^/    /'
    return 1
  fi
}

echo "fuzz: ${#targets[@]} targets, ${seconds} s each, ${jobs} at a time"
status=0
running=0
pids=()
for t in "${targets[@]}"; do
  [ -x "build-fuzz/bin/fuzz_$t" ] || { echo "fuzz: no target \"$t\" (see build-fuzz/fuzzers.txt)"; exit 2; }
  run_one "$t" &
  pids+=($!)
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait "${pids[0]}" || status=1
    pids=("${pids[@]:1}")
    running=$((running - 1))
  fi
done
for p in "${pids[@]}"; do wait "$p" || status=1; done
exit $status
