#!/usr/bin/env bash
# Sets up a fresh machine, builds the stack and runs the main job on the simulated phone:
# the device manager loads the camera driver, camcapture opens the camera through it as
# a capture application does, streams preview frames of the sensor's chart (saved as a
# .y4m file), focuses while the preview runs, and takes a JPEG still with EXIF and a
# thumbnail; both land in the device image's fs/DCIM.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
export CAMERA_DEBUG_QUIET=1
cmake --preset default -DCAMERA_WORD_BITS="$(bash scripts/wordbits.sh)" >/dev/null
cmake --build --preset default -j8 >/dev/null
bin=build/bin
dcim=build/image/fs/DCIM
mkdir -p "$dcim"
echo "The camera as the driver offers it"
"$bin/camcapture" --list | grep -E '^(camera|pin)' | sed 's/^/  /'
echo "Preview, focus and a still through the driver"
"$bin/camcapture" --stream 30 "$dcim/PREVIEW.y4m" --size 640x480 --focus \
  --still "$dcim/IMG0001.jpg" --quality 90 --exif 0x0131=camcapture
echo "Preview frames: $dcim/PREVIEW.y4m (YUV4MPEG2, for ffplay or ffmpeg)"
echo "Still:          $dcim/IMG0001.jpg"
if command -v exiftool >/dev/null; then
  exiftool -s -FileType -ImageSize -Make -Model -Software -DateTimeOriginal -ThumbnailImage "$dcim/IMG0001.jpg" |
    sed 's/^/  /'
fi
