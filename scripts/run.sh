#!/usr/bin/env bash
# Builds everything and starts the desktop program on the shipped data sets.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
tarvio_install_deps

jobs=$(nproc 2>/dev/null || echo 2)
echo "tarvio: configuring build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "tarvio: building"
cmake --build build -j "$jobs"
if [ -x build/bin/tarvio ]; then
    echo "tarvio: starting build/bin/tarvio"
    exec build/bin/tarvio "$@"
fi
echo "tarvio: the desktop program is not built yet; the libraries and their tests are in build/"
echo "tarvio: run the tests with scripts/test.sh"
