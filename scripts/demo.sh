#!/usr/bin/env bash
# Sets up a fresh machine, builds the stack and runs the main job on the simulated phone.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default -j8
exec ./build/bin/camdemo "$@"
