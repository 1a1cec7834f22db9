#!/usr/bin/env bash
# Installs, only when missing, the Debian packages that the build and the tests need.
set -euo pipefail
pkgs=(g++-multilib cmake ninja-build ccache googletest make libjpeg-turbo-progs libimage-exiftool-perl python3 gcab cabextract qemu-user)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}" >/dev/null
fi
