#!/usr/bin/env bash
# Installs the build into a staging directory and runs the installed tool.
set -euo pipefail
build_dir=$1
staging=$(mktemp -d)
trap 'rm -rf "$staging"' EXIT

cmake --install "$build_dir" --prefix "$staging" >/dev/null
for file in bin/QuorlFirmwareUpdateApp lib/udev/rules.d/60-quorl-firmware.rules \
            share/man/man1/QuorlFirmwareUpdateApp.1 bin/quorl-devices share/man/man1/quorl-devices.1 \
            bin/quorl-station share/man/man1/quorl-station.1; do
  [ -f "$staging/$file" ] || { echo "not installed: $file"; exit 1; }
done

out=$("$staging/bin/QuorlFirmwareUpdateApp" -h)
[ "$(printf '%s\n' "$out" | sed -n 2p)" = "usage: QuorlFirmwareUpdateApp -s [filename]" ] \
  || { echo "unexpected usage text:"; printf '%s\n' "$out"; exit 1; }

[ "$("$staging/bin/quorl-devices" --help | sed -n 1p)" = "usage: quorl-devices [--json] [--watch]" ] \
  || { echo "the installed device listing does not run"; exit 1; }

[ "$("$staging/bin/quorl-station" --help | sed -n 1p)" = "Runs one command of QuorlFirmwareUpdateApp on several units at once, each followed by its USB port, with one record per unit." ] \
  || { echo "the installed station does not run"; exit 1; }

set +e
"$staging/bin/QuorlFirmwareUpdateApp" >/dev/null
status=$?
set -e
[ "$status" -eq 1 ] || { echo "bare start exited with $status, expected 1"; exit 1; }
echo "installed tool runs from $staging"
