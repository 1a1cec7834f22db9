#!/usr/bin/env bash
# Sets up a fresh machine, builds the stack and runs the main job on the simulated phone:
# the sensor probe, the framework host with its modules and services, and a JPEG still
# with EXIF encoded by the host's encoder service into the device image's fs/DCIM.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
export CAMERA_DEBUG_QUIET=1
cmake --preset default >/dev/null
cmake --build --preset default -j8 >/dev/null
bin=build/bin
dcim=build/image/fs/DCIM
mkdir -p "$dcim"
frame=$(mktemp --suffix=.nv21)
trap 'rm -f "$frame"' EXIT
"$bin/camdemo" --frame "$frame" --size 1296x972
echo "Still through the JPEG encoder service"
"$bin/nv21jpeg" --size 1296x972 --quality 90 --thumbnail 160x120 \
  --exif 0x010F=ascii:Vantor --exif 0x0110=ascii:S5K3E2FX "$frame" "$dcim/IMG0001.jpg"
if command -v exiftool >/dev/null; then
  exiftool -s -FileType -ImageSize -Make -Model -ThumbnailImage "$dcim/IMG0001.jpg" | sed 's/^/  /'
fi
