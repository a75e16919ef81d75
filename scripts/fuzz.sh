#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each one in turn.
#   scripts/fuzz.sh --smoke     a few seconds per target
#   scripts/fuzz.sh --runs N    N executions per target
# Fails when any target finds something; the input that caused it is kept in build-fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
    echo "usage: $0 --smoke | --runs N" >&2
    exit 2
}
case "${1:-}" in
--smoke)
    limit=(-max_total_time=5)
    stacks=
    ;;
--runs)
    [[ "${2:-}" =~ ^[0-9]+$ ]] || usage
    limit=(-runs="$2")
    # Over millions of runs ASan's store of allocation stacks outgrows libFuzzer's 2 GB limit;
    # errors are still caught, and a saved input replayed through the target shows full stacks.
    stacks=:malloc_context_size=0
    ;;
*) usage ;;
esac

scripts/deps.sh test

build=build-fuzz
cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTOVIK_TESTS=OFF -DTOVIK_FUZZ=ON
targets=(fuzz_urlinput fuzz_ytdlpoutput fuzz_checksums)
cmake --build "$build" --target "${targets[@]}"

# A few hand-written inputs to start from; the fuzzers grow the corpus beside them.
seed() {
    mkdir -p "$build/corpus/$1"
    printf "$3" >"$build/corpus/$1/seed-$2"
}
digest=0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef
seed fuzz_urlinput links 'https://example.com/watch?v=1, www.a.org/x\n<http://b.net/y>\t"HTTPS://C.IO/z"'
seed fuzz_urlinput others 'ftp://d.e/f localhost mailto:me@a.com http://[::1]/x a.com/x https://a.com/x'
seed fuzz_ytdlpoutput stream 'TKT|abc|1|3|Some|Title\nTKP|abc|downloading|1048576|NA|5242880.0|262144.5|16\r\nTKP|abc|finished|5242880|5242880|NA|NA|NA\nTKF|abc|/home/a/Videos/Clip.mp4\n[download] 10%%\r20%%\nERROR: [youtube] abc: Video unavailable\nERROR: [generic] x\n\x10\x20\x05\x30'
seed fuzz_ytdlpoutput split 'TKP|a|downloading|-0.5|1e3|NA|inf|+7\nTKT|b|NA|NA|NA\nZo\xc3\xab \xe2\x80\x94 \xff\r\r\n\x03\x01\x04\x02'
seed fuzz_checksums list "yt-dlp_linux\\000$digest  yt-dlp_macos\\n${digest^^}  *yt-dlp_linux\\r\\n"
seed fuzz_checksums single "deno.zip\\000$digest\\n"

# A 16 MB quarantine still catches use after free of recent blocks, and keeps each run quick.
export ASAN_OPTIONS=abort_on_error=1:quarantine_size_mb=16$stacks
export UBSAN_OPTIONS=print_stacktrace=1
mkdir -p "$build/findings"
failed=()
for target in "${targets[@]}"; do
    name=${target#fuzz_}
    dict=()
    [[ -f fuzz/$name.dict ]] && dict=(-dict="fuzz/$name.dict")
    echo "== $target"
    # Every parser works piece by piece or line by line: a kilobyte holds plenty of them, and
    # longer inputs only slow each run down.
    if ! "$build/fuzz/$target" "${limit[@]}" "${dict[@]}" -max_len=1024 -timeout=10 \
        -print_final_stats=1 -artifact_prefix="$build/findings/$target-" "$build/corpus/$target"; then
        failed+=("$target")
    fi
done
if [[ ${#failed[@]} -gt 0 ]]; then
    echo "Findings in: ${failed[*]} (inputs in $build/findings/)" >&2
    exit 1
fi
