#!/usr/bin/env bash
# Reads a ctest log on stdin and prints its outcome as "N passed, N failed" (a test that
# did not run, a skipped one, is counted apart, on a line before). No summary (ctest never
# got to run) counts as one failure.
set -euo pipefail
log=$(cat)
summary=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' <<<"$log" | tail -1 || true)
if [ -z "$summary" ]; then
  echo "0 passed, 1 failed"
  exit 0
fi
failed=$(sed -E 's/.* ([0-9]+) tests? failed out of.*/\1/' <<<"$summary")
total=$(sed -E 's/.*failed out of ([0-9]+).*/\1/' <<<"$summary")
skipped=$(grep -cE '^[[:space:]]*[0-9]+ - .*\((Skipped|Disabled)\)' <<<"$log" || true)
[ "$skipped" -gt 0 ] && echo "$skipped skipped"
echo "$((total - failed - skipped)) passed, $failed failed"
