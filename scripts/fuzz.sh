#!/usr/bin/env bash
# Builds the libFuzzer targets of the network and data-packet decoders with clang in build-fuzz/
# and runs each for a bounded time (FIS_FUZZ_SECONDS, 20 by default).
set -euo pipefail
cd "$(dirname "$0")/.."
if [ ! -f build-fuzz/CMakeCache.txt ]; then
    CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DFIS_BUILD_TESTS=OFF -DFIS_BUILD_BENCH=OFF -DFIS_FUZZ_SECONDS="${FIS_FUZZ_SECONDS:-20}" >/dev/null
fi
cmake --build build-fuzz --parallel "$(nproc)" \
    --target fis_fuzz_seeds fis_fuzz_request fis_fuzz_response fis_fuzz_packet
ctest --test-dir build-fuzz/fuzz -L fuzz --output-on-failure
