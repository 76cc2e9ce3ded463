#!/usr/bin/env bash
# Checks the Windows programs themselves: builds them (scripts/build-windows.sh),
# looks at what the files hold (only system DLLs, the version resource, the
# zip), and runs both editions under Wine in a private prefix where no device
# is present, against the Linux build's answers to the same command lines.
# Under Wine the real hidapi sees no HID device, so these runs take the paths
# that need none: the usage, the release tooling on files (non-ASCII names,
# a file past 4 GiB), the dongle and Tivane commands with nothing plugged in.
# QUORL_SLOW_TESTS=0 skips the file past 4 GiB.
#
# Exit statuses are those that Linux sees of a Windows program: its 32-bit
# code cut to 8 bits, so -1 (what %ERRORLEVEL% shows) arrives as 255.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/build-windows.sh
[ -x build/standard/QuorlFirmwareUpdateApp ] || scripts/build.sh
source scripts/windows-env.sh

work=build-windows/smoke
rm -rf "$work"
mkdir -p "$work"
echo "== the Windows programs under Wine (first start of the prefix takes a while) =="
quorl_wine_start build-windows/wine
trap quorl_wine_stop EXIT

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "ok: $1"; }
fail() {
  failed=$((failed + 1))
  echo "FAILED: $1"
  shift
  printf '  %s\n' "$@"
}

# run PROGRAM ARGS...: its standard output, standard error (line ends as on
# Linux) and exit status in out, err and status.
run() {
  set +e
  "$@" >"$work/out" 2>"$work/err"
  status=$?
  set -e
  out=$(tr -d '\r' <"$work/out")
  err=$(tr -d '\r' <"$work/err")
}

# answers EDITION NAME STATUS OUT ERR ARGS...: the Windows edition's exact answer.
answers() {
  local edition=$1 name=$2 want_status=$3 want_out=$4 want_err=$5
  shift 5
  run wine "build-windows/$edition/QuorlFirmwareUpdateApp.exe" "$@"
  if [ "$out" = "$want_out" ] && [ "$err" = "$want_err" ] && [ "$status" = "$want_status" ]; then
    pass "$edition $name"
  else
    fail "$edition $name" "wanted: status $want_status, out: $want_out, err: $want_err" \
      "got: status $status, out: $out, err: $err"
  fi
}

# same_as_linux EDITION NAME ARGS...: the Windows edition answers the command
# line as the Linux one does, its usage naming the .exe.
same_as_linux() {
  local edition=$1 name=$2
  shift 2
  run "build/$edition/QuorlFirmwareUpdateApp" "$@"
  local want_out=${out//usage: QuorlFirmwareUpdateApp /usage: QuorlFirmwareUpdateApp.exe }
  answers "$edition" "$name" "$status" "$want_out" "$err" "$@"
}

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-windows/CMakeCache.txt)
for edition in standard compact; do
  exe="build-windows/$edition/QuorlFirmwareUpdateApp.exe"
  # Only DLLs that every Windows 10 and 11 has: the C++ runtime is inside.
  foreign=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' |
    grep -viE '^(kernel32|msvcrt|ucrtbase|api-ms-win-.*|setupapi|winmm|shell32|advapi32|user32)\.dll$' || true)
  if [ -z "$foreign" ]; then pass "$edition needs only system DLLs"; else fail "$edition needs DLLs" "$foreign"; fi
  texts=$(x86_64-w64-mingw32-strings -el "$exe")
  manifest=$(x86_64-w64-mingw32-strings "$exe")
  if grep -qx QuorlFirmwareUpdateApp <<<"$texts" && grep -qx "$version" <<<"$texts" &&
     grep -qx "Quorl firmware update tool ($edition edition)" <<<"$texts" &&
     grep -q 'requestedExecutionLevel level="asInvoker"' <<<"$manifest"; then
    pass "$edition version resource $version and manifest"
  else
    fail "$edition version resource and manifest"
  fi
done

zip="build-windows/QuorlFirmwareUpdateApp-$version-win64.zip"
listing=$(cmake -E tar tf "$zip")
top="QuorlFirmwareUpdateApp-$version-win64"
missing=""
for entry in standard/QuorlFirmwareUpdateApp.exe compact/QuorlFirmwareUpdateApp.exe README.md \
             licenses/hidapi/LICENSE.txt licenses/hidapi/LICENSE-bsd.txt licenses/hidapi/LICENSE-orig.txt \
             licenses/hidapi/LICENSE-gpl3.txt; do
  grep -qx "$top/$entry" <<<"$listing" || missing+=" $entry"
done
if [ -z "$missing" ]; then pass "$(basename "$zip") holds both editions, the README and hidapi's licences"
else fail "$(basename "$zip") lacks:$missing"; fi

for edition in standard compact; do
  same_as_linux "$edition" "-h: the usage, named after the last backslash, status 0" -h
  same_as_linux "$edition" "bare start: the usage, status 1"
done

same_as_linux standard "-c of a sample" -c samples/radio_module.bin
same_as_linux standard "-C of a sample" -C samples/controller_firmware.bin
same_as_linux standard "-v with a bootloader" -v samples/controller_firmware.bin 1500000000 samples/bootloader.bin
same_as_linux standard "-c of a directory" -c samples

# Names beyond any code page: the wide calls open them.
named="$work/Prüfbild 固件_module.bin"
cp samples/radio_module.bin "$named"
run build/standard/QuorlFirmwareUpdateApp -c samples/radio_module.bin
answers standard "-c of a file named in several scripts" 0 "$out" "" -c "$named"
same_as_linux standard "-c of a missing file named in several scripts" -c "$work/Fehlt ü 固件.bin"

if [ "${QUORL_SLOW_TESTS:-1}" != 0 ]; then
  # Past 4 GiB, where 32-bit sizes and offsets would wrap (sparse: no disk).
  large="$work/large_module.bin"
  head -c 100000 samples/radio_module.bin >"$large"
  truncate -s $((4 * 1024 * 1024 * 1024 + 12345)) "$large"
  printf 'bytes past 4 GiB' >>"$large"
  same_as_linux standard "-c of a file past 4 GiB" -c "$large"
  rm -f "$large"
fi

# No device under Wine: the failure lines and statuses, and no hint line.
answers standard "dongle image without a dongle: -1" 255 "Error opening device for bootloader upgrade." "" \
  samples/sample_dongle.bin
answers compact "dongle image without a dongle: -1" 255 "Error opening device for bootloader upgrade." "" \
  samples/sample_dongle.bin
# The search for the Tivane's serial port through Wine's device-information service.
answers standard "Tivane image: the search finds no Tivane" 1 "Updating Tivane firmware
No match for VID/PID of Tivane
Device not found, is it already in bootloader?
Attempting to update...
Error opening device." "" samples/tivane_firmware.bin

echo "Windows: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
