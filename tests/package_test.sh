#!/usr/bin/env bash
# Builds the .deb and checks what it holds and what it depends on.
set -euo pipefail
build_dir=$1
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

cpack --config "$build_dir/CPackConfig.cmake" -B "$out" >/dev/null
deb=$(ls "$out"/*.deb)
files=$(dpkg-deb -c "$deb")
printf '%s\n' "$files"
for file in ./usr/bin/QuorlFirmwareUpdateApp ./usr/lib/udev/rules.d/60-quorl-firmware.rules \
            ./usr/share/man/man1/QuorlFirmwareUpdateApp.1 ./usr/bin/quorl-devices \
            ./usr/share/man/man1/quorl-devices.1 ./usr/bin/quorl-station \
            ./usr/share/man/man1/quorl-station.1; do
  printf '%s\n' "$files" | grep -q " $file\$" || { echo "missing from package: $file"; exit 1; }
done
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
printf '%s\n' "$depends" | grep -q 'libhidapi-hidraw0' \
  || { echo "the package does not depend on the hidapi library it links"; exit 1; }
