#!/bin/sh
# Builds the libFuzzer targets (clang 16, a build tree of their own) and runs
# each for SECONDS, one after the other on one core. Any crash, leak, timeout
# or mismatch fails the script and leaves the input as crash-* in the work
# directory. The corpus found grows there from run to run; it is seeded from
# the committed corpus, the test files and the example.
#   textgrid/fuzz/run-fuzz.sh [SECONDS] [fuzz_target ...]     (default 10 s, all)
# Environment: FUZZ_CXX (clang++-16), FUZZ_BUILD_DIR, FUZZ_WORK_DIR.
set -eu
SECONDS_EACH=${1:-10}
if [ $# -gt 0 ]; then shift; fi
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
FUZZ=$ROOT/textgrid/fuzz
BUILD=${FUZZ_BUILD_DIR:-$ROOT/build/fuzz-clang}
WORK=${FUZZ_WORK_DIR:-$BUILD/work}
GENERATOR=$(command -v ninja >/dev/null 2>&1 && echo Ninja || echo "Unix Makefiles")

cmake -S "$ROOT" -B "$BUILD" -G "$GENERATOR" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER="${FUZZ_CXX:-clang++-16}" -DVELMAR_BUILD_FUZZ=ON \
    -DVELMAR_BUILD_MODULE=OFF -DVELMAR_BUILD_TESTS=OFF -DVELMAR_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD" -j "$(nproc)"

if [ $# -eq 0 ]; then
    set -- $(cd "$FUZZ" && ls fuzz_*.cpp | sed 's/\.cpp$//')
fi

# Seed directory of a target: its committed corpus plus every TextGrid the
# tests and the example use (the byte-level targets take them as they are).
seeds_of() {
    case $1 in
        fuzz_parse_long) kinds=long ;;
        fuzz_parse_short) kinds=short ;;
        fuzz_load_text) kinds=load ;;
        fuzz_read_auto) kinds="load long short" ;;
        fuzz_roundtrip) return 0 ;;  # builds documents from raw bytes
        *) kinds="long short" ;;
    esac
    for kind in $kinds; do cp "$FUZZ/corpus/$kind"/* "$2/"; done
    cp "$ROOT"/textgrid/tests/data/praat/*.TextGrid "$ROOT"/examples/*.TextGrid "$2/"
}

failed=""
for target in "$@"; do
    corpus=$WORK/$target
    seeds=$WORK/seeds-$target
    log=$WORK/$target.log
    rm -rf "$seeds"
    mkdir -p "$corpus" "$seeds"
    seeds_of "$target" "$seeds"
    dict=""
    [ "$target" = fuzz_roundtrip ] || dict=-dict=$FUZZ/textgrid.dict
    if "$BUILD/textgrid/fuzz/$target" $dict -max_total_time="$SECONDS_EACH" -timeout=30 \
        -print_final_stats=1 -artifact_prefix="$WORK/crash-$target-" \
        "$corpus" "$seeds" >"$log" 2>&1; then
        echo "$target: $(sed -n 's/^stat::number_of_executed_units: *//p' "$log") executions in ${SECONDS_EACH} s"
    else
        tail -n 40 "$log"
        echo "$target: FAILED (log $log)"
        failed="$failed $target"
    fi
done
[ -z "$failed" ] || { echo "fuzz faults in:$failed" >&2; exit 1; }
