#!/usr/bin/env bash
# Builds Tovik and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

"$(dirname "$0")/deps.sh"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
if [[ -x build/ui/tovik ]]; then
    exec build/ui/tovik
fi
echo "Tovik's window is not built yet; the core library and its tests are."
