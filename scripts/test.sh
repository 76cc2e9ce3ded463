#!/usr/bin/env bash
# Runs every test: the suite, the same suite under AddressSanitizer and
# UndefinedBehaviorSanitizer (any report fails it), a short run of each fuzz
# target, and the Windows programs, cross-built and run under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
ctest --test-dir build --output-on-failure -j2

echo "== the test suite under AddressSanitizer and UndefinedBehaviorSanitizer =="
cmake -S . -B build-sanitize -G Ninja -DQUORL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
cmake --build build-sanitize
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-sanitize --output-on-failure -j2 -E 'DebianPackageContents'

echo "== the companion programs over hidapi's libusb back end (built, not run: no devices) =="
cmake -S . -B build-libusb -G Ninja -DQUORL_HIDAPI_LIBUSB=ON -DQUORL_BUILD_TESTS=OFF
cmake --build build-libusb --target quorl_devices quorl_station_program

echo "== a short run of each fuzz target (clang, libFuzzer) =="
scripts/fuzz.sh 10

echo "== the Windows programs (MinGW-w64 cross build, under Wine) =="
scripts/test-windows.sh
