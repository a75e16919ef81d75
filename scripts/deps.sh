#!/usr/bin/env bash
# Installs the Debian packages that building (and, with "test", testing) Tovik needs.
# Does nothing when they are all present already.
set -euo pipefail

packages=(build-essential cmake ninja-build qt6-base-dev qt6-base-dev-tools qcoro-qt6-dev
          libarchive-dev libgl-dev help2man)
if [[ "${1:-}" == test ]]; then
    packages+=(yt-dlp ffmpeg python3 clang libclang-rt-14-dev openssl zlib1g-dev
              desktop-file-utils appstream lintian man-db dbus xvfb xauth openbox)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
[[ $(id -u) -ne 0 ]] && sudo=(sudo)
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
