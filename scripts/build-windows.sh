#!/usr/bin/env bash
# Cross-builds both editions and the device listing as 64-bit Windows console
# programs with MinGW-w64 into build-windows/ (standard/ and compact/
# QuorlFirmwareUpdateApp.exe, quorl-devices.exe, quorl-station.exe, the
# bench page's dashboard-demo.exe), the test suite
# (tests/quorl_tests.exe, run under Wine by test-windows.sh), and packs the
# programs into build-windows/QuorlFirmwareUpdateApp-VERSION-win64.zip.
# Installs what it needs from Debian's packages (httplib.h from Debian's source
# package), and hidapi's sources from the npm registry.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/windows-env.sh

quorl_windows_setup
quorl_windows_hidapi build-windows/_deps
quorl_windows_googletest build-windows/_deps
quorl_windows_nlohmann_json build-windows/_deps
quorl_windows_httplib build-windows/_deps
hidapi=$QUORL_HIDAPI_PREFIX
cmake -S . -B build-windows -G Ninja --no-warn-unused-cli \
  -DCMAKE_TOOLCHAIN_FILE="$QUORL_MINGW_TOOLCHAIN" \
  -Dhidapi_DIR="$hidapi/lib/cmake/hidapi" \
  -DQUORL_HIDAPI_LICENSE_DIR="$hidapi/share/doc/hidapi" \
  -DGTest_DIR="$QUORL_GTEST_PREFIX/lib/cmake/GTest" \
  -Dnlohmann_json_DIR="$QUORL_JSON_PREFIX/share/cmake/nlohmann_json" \
  -DCLI11_DIR="$QUORL_JSON_PREFIX/share/cmake/CLI11" \
  -DQUORL_HTTPLIB_INCLUDE_DIR="$QUORL_HTTPLIB_INCLUDE"
cmake --build build-windows --parallel 2
(cd build-windows && cpack >/dev/null)
ls build-windows/QuorlFirmwareUpdateApp-*-win64.zip
