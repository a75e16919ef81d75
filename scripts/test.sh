#!/usr/bin/env bash
# Builds Tovik and runs the whole test suite. With --sanitize: the same with
# AddressSanitizer and UndefinedBehaviorSanitizer, in a build folder of its own.
set -euo pipefail
cd "$(dirname "$0")/.."

"$(dirname "$0")/deps.sh" test

build=build
flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [[ "${1:-}" == --sanitize ]]; then
    build=build-asan
    flags=(-DCMAKE_BUILD_TYPE=Debug -DTOVIK_SANITIZE=ON)
    export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi

cmake -S . -B "$build" -G Ninja "${flags[@]}"
cmake --build "$build"
# The suite runs below a reaper that fails it when any process it started is left running.
"$build/tests/support/no-leftovers" ctest --test-dir "$build" --output-on-failure -j2
