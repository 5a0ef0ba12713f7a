#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UBSan) in build-fuzz and runs
# each one for a while on a copy of its seed corpus in fuzz/corpus/<target>/.
#
#     scripts/fuzz.sh [-t SECONDS] [TARGET...]
#
# SECONDS is each target's run time (default 60); without targets every fuzz_* target runs, one
# after the other. A crash, sanitizer report, leak, escaped exception or hang fails the command;
# the input that caused it is kept in build-fuzz/fuzz/findings/<target>/.
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=60
while getopts "t:h" opt; do
    case $opt in
        t) seconds=$OPTARG ;;
        *) sed -n '2,9p' "$0"; exit 2 ;;
    esac
done
shift $((OPTIND - 1))

if ! command -v clang++ >/dev/null; then
    echo "tarvio: clang++ is needed for the fuzz targets (apt-get install clang libclang-rt-14-dev)"
    exit 2
fi

build=build-fuzz
echo "tarvio: configuring $build with clang"
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTARVIO_FUZZ=ON || exit 1

if [ $# -gt 0 ]; then
    targets=("$@")
else
    targets=()
    for src in fuzz/fuzz_*.cpp; do targets+=("$(basename "$src" .cpp)"); done
fi

echo "tarvio: building ${targets[*]}"
cmake --build "$build" --target "${targets[@]}" -j 2 || exit 1

work=$(mktemp -d "${TMPDIR:-/tmp}/tarvio-fuzz-run-XXXXXX")
trap 'rm -rf "$work"' EXIT
# The targets write every input to a file, and replacing a file syncs it: in memory that costs
# nothing, so each target runs several times as many inputs.
scratch=${TMPDIR:-/tmp}
if [ -d /dev/shm ] && [ -w /dev/shm ]; then scratch=/dev/shm; fi
status=0
for target in "${targets[@]}"; do
    corpus="$work/$target"
    findings="$build/fuzz/findings/$target"
    mkdir -p "$corpus" "$findings"
    if [ -d "fuzz/corpus/$target" ]; then cp -r "fuzz/corpus/$target/." "$corpus/"; fi
    echo "tarvio: fuzzing $target for $seconds s"
    if TMPDIR=$scratch ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" 2>"$work/$target.log"; then
        grep -E "^stat::number_of_executed_units|^Done" "$work/$target.log" | tr '\n' ' '
        echo
    else
        status=1
        echo "tarvio: $target found a fault; its report:"
        grep -v -E "^#|^INFO:|NEW_FUNC" "$work/$target.log" | tail -60
        echo "tarvio: the input is in $findings/"
    fi
done

if [ $status -eq 0 ]; then
    echo "tarvio: no target found a fault"
else
    echo "tarvio: a fuzz target found a fault"
fi
exit $status
