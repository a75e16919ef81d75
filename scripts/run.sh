#!/usr/bin/env bash
# Builds Tovik and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

"$(dirname "$0")/deps.sh"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --target tovik
exec build/ui/tovik
