#!/usr/bin/env bash
# Builds Tovik and saves a PNG of each of its screens: setup needing all tools, installing,
# failed; the empty main view; jobs waiting, downloading, processing, finished, finished with
# a warning, cancelled and failed; the full list in light and dark. Runs on a private home with
# the fake yt-dlp and a loopback release site, in a virtual X display when xvfb is installed.
#
#   scripts/screenshots.sh [folder]     (default: build/screenshots)
set -euo pipefail
cd "$(dirname "$0")/.."

"$(dirname "$0")/deps.sh" test
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target tovik-screenshots
folder="${1:-build/screenshots}"
if command -v xvfb-run >/dev/null; then
    xvfb-run -a -s "-screen 0 1280x1024x24" build/tests/ui/tovik-screenshots "$folder"
else
    QT_QPA_PLATFORM=offscreen build/tests/ui/tovik-screenshots "$folder"
fi
