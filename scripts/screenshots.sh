#!/usr/bin/env bash
# Builds Tovik and saves a PNG of each of its screens: setup needing all tools, installing,
# failed; the empty main view; jobs waiting, downloading, processing, finished, finished with
# a warning, cancelled and failed; the full list; a failed reinstallation. The walk runs three times: as it comes, at a
# 12 pt font (names end in -12pt) and in a dark palette (-dark). Runs on a private home with
# the fake yt-dlp and a loopback release site, in a virtual X display with a window manager
# when xvfb and openbox are installed.
#
#   scripts/screenshots.sh [folder]     (default: build/screenshots)
set -euo pipefail
cd "$(dirname "$0")/.."
shots=build/scripts/screenshots/tovik-screenshots

# Inside the virtual display: openbox manages the window as a desktop would.
if [[ "${1:-}" == --in-display ]]; then
    folder="$2"
    wm=
    if command -v openbox >/dev/null; then
        openbox 2>/dev/null &
        wm=$!
        sleep 1
    fi
    status=0
    { "$shots" "$folder" && "$shots" "$folder" --pt=12 && "$shots" "$folder" --dark; } || status=$?
    if [[ -n $wm ]]; then kill "$wm"; fi
    exit "$status"
fi

"$(dirname "$0")/deps.sh" test
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target tovik-screenshots
folder="${1:-build/screenshots}"
if command -v xvfb-run >/dev/null; then
    xvfb-run -a -s "-screen 0 1280x1024x24" "$0" --in-display "$folder"
else
    export QT_QPA_PLATFORM=offscreen
    "$shots" "$folder" && "$shots" "$folder" --pt=12 && "$shots" "$folder" --dark
fi
