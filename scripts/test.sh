#!/usr/bin/env bash
# Builds and runs every test twice: a normal build and an AddressSanitizer + UBSan build.
set -uo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
tarvio_install_deps || exit 1

jobs=$(nproc 2>/dev/null || echo 2)
status=0

run_suite() {
    local dir=$1; shift
    echo "tarvio: configuring $dir ($*)"
    cmake -S . -B "$dir" -G Ninja "$@" || return 1
    echo "tarvio: building $dir"
    cmake --build "$dir" -j "$jobs" || return 1
    echo "tarvio: running the tests of $dir"
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 600 || return 1
}

run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo || status=1
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp
run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DTARVIO_SANITIZE=ON || status=1

if [ $status -eq 0 ]; then
    echo "tarvio: both test runs passed"
else
    echo "tarvio: a test run failed"
fi
exit $status
