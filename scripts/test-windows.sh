#!/usr/bin/env bash
# Checks the Windows programs themselves: builds them (scripts/build-windows.sh),
# looks at what the files hold (only system DLLs, the version resource, the
# zip), and runs both editions under Wine in a private prefix where no device
# is present, against the Linux build's answers to the same command lines.
# Under Wine the real hidapi sees no HID device, so these runs take the paths
# that need none: the usage, the release tooling on files (non-ASCII names,
# a file past 4 GiB), the dongle and Tivane commands with nothing plugged in;
# and the bench's page, served under Wine and read from Linux.
# QUORL_SLOW_TESTS=0 skips the file past 4 GiB.
#
# Exit statuses are those that Linux sees of a Windows program: its 32-bit
# code cut to 8 bits, so -1 (what %ERRORLEVEL% shows) arrives as 255.
set -euo pipefail
cd "$(dirname "$0")/.."

started=$SECONDS
scripts/build-windows.sh
[ -x build/standard/QuorlFirmwareUpdateApp ] || scripts/build.sh
source scripts/windows-env.sh
built=$SECONDS

work=build-windows/smoke
rm -rf "$work"
mkdir -p "$work"
echo "== the Windows programs under Wine (first start of the prefix takes a while) =="
quorl_wine_start build-windows/wine
serial_stand_in=""
stop() {
  [ -z "$serial_stand_in" ] || kill "$serial_stand_in" 2>/dev/null || true
  quorl_wine_stop
}
trap stop EXIT

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

# program_answers PROGRAM LABEL STATUS OUT ERR ARGS...: the Windows
# program's exact answer under Wine.
program_answers() {
  local program=$1 label=$2 want_status=$3 want_out=$4 want_err=$5
  shift 5
  run wine "$program" "$@"
  if [ "$out" = "$want_out" ] && [ "$err" = "$want_err" ] && [ "$status" = "$want_status" ]; then
    pass "$label"
  else
    fail "$label" "wanted: status $want_status, out: $want_out, err: $want_err" \
      "got: status $status, out: $out, err: $err"
  fi
}

# answers EDITION NAME STATUS OUT ERR ARGS...: the Windows edition's exact answer.
answers() {
  local edition=$1 name=$2
  shift 2
  program_answers "build-windows/$edition/QuorlFirmwareUpdateApp.exe" "$edition $name" "$@"
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
devices=build-windows/quorl-devices.exe
# program_files EXE NAME DESCRIPTION: what the file holds.
program_files() {
  local exe=$1 name=$2 description=$3 texts manifest foreign
  # Only Known DLLs, which Windows loads from System32 whatever lies beside
  # the program: the C++ runtime is inside.
  foreign=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' |
    grep -viE '^(kernel32|msvcrt|setupapi|shell32|advapi32|user32|ws2_32)\.dll$' || true)
  if [ -z "$foreign" ]; then pass "$description imports Known DLLs only"; else fail "$description imports DLLs that are no Known DLLs" "$foreign"; fi
  texts=$(x86_64-w64-mingw32-strings -el "$exe")
  manifest=$(x86_64-w64-mingw32-strings "$exe")
  if grep -qx "$name" <<<"$texts" && grep -qx "$name.exe" <<<"$texts" && grep -qx "$version" <<<"$texts" &&
     grep -qx "$description" <<<"$texts" &&
     grep -q 'requestedExecutionLevel level="asInvoker"' <<<"$manifest" &&
     grep -q '<ws2:longPathAware>true</ws2:longPathAware>' <<<"$manifest"; then
    pass "$description: version resource $version and manifest (long paths)"
  else
    fail "$description: version resource and manifest"
  fi
}
for edition in standard compact; do
  program_files "build-windows/$edition/QuorlFirmwareUpdateApp.exe" QuorlFirmwareUpdateApp \
    "Quorl firmware update tool ($edition edition)"
done
program_files "$devices" quorl-devices "Quorl device listing"
station=build-windows/quorl-station.exe
program_files "$station" quorl-station "Quorl flashing station"
page_demo=build-windows/dashboard-demo.exe
program_files "$page_demo" dashboard-demo "Quorl bench page demo"

zip="build-windows/QuorlFirmwareUpdateApp-$version-win64.zip"
listing=$(cmake -E tar tf "$zip")
top="QuorlFirmwareUpdateApp-$version-win64"
missing=""
for entry in standard/QuorlFirmwareUpdateApp.exe compact/QuorlFirmwareUpdateApp.exe quorl-devices.exe \
             quorl-station.exe licenses/CLI11/COPYRIGHT.txt \
             README.md licenses/hidapi/LICENSE.txt licenses/hidapi/LICENSE-bsd.txt \
             licenses/hidapi/LICENSE-orig.txt licenses/hidapi/LICENSE-gpl3.txt \
             licenses/nlohmann-json/COPYRIGHT.txt licenses/toml++/COPYRIGHT.txt \
             licenses/cpp-httplib/COPYRIGHT.txt; do
  grep -qx "$top/$entry" <<<"$listing" || missing+=" $entry"
done
if [ -z "$missing" ]; then
  pass "$(basename "$zip") holds both editions, the device listing, the station, the README and the licences"
else fail "$(basename "$zip") lacks:$missing"; fi

for edition in standard compact; do
  same_as_linux "$edition" "-h: the usage, named after the last backslash, status 0" -h
  same_as_linux "$edition" "bare start: the usage, status 1"
done

same_as_linux standard "-c of a sample" -c samples/radio_module.bin
same_as_linux standard "-C of a sample" -C samples/controller_firmware.bin
same_as_linux standard "-v with a bootloader" -v samples/controller_firmware.bin 1500000000 samples/bootloader.bin
same_as_linux standard "-c of a directory" -c samples

# The station with nothing plugged in: the survey finds no unit; a command
# without "--" is a usage error. Both as the Linux build answers.
run build/quorl-station -- samples/controller_firmware.bin
program_answers "$station" "quorl-station with no unit: status 1" "$status" "$out" "$err" \
  -- samples/controller_firmware.bin
run build/quorl-station --all samples/controller_firmware.bin
program_answers "$station" "quorl-station without --: status 2" "$status" "$out" "$err" \
  --all samples/controller_firmware.bin

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

# The device listing with nothing plugged in: the SetupAPI listing and
# hidapi's enumeration under Wine, the line, the empty document, the usage.
program_answers "$devices" "quorl-devices with no device: status 1" 1 \
  "No device of the Quorl family is connected." ""
program_answers "$devices" "quorl-devices --json with no device: an empty list" 1 '{
  "devices": []
}' "" --json
run build/quorl-devices --list
program_answers "$devices" "quorl-devices with another word: the usage on standard error, status 2" 2 \
  "" "${err//usage: quorl-devices /usage: quorl-devices.exe }" --list

# A download folder: the programs beside a hid.dll, a cfgmgr32.dll, a
# winmm.dll, a bcrypt.dll, a ws2_32.dll and a mswsock.dll of someone else's,
# whose DllMain leaves a marker file beside itself when it is loaded. The
# programs load the system's own: no marker.
downloads="$work/downloads"
mkdir -p "$downloads"
cat >"$work/planted.c" <<'PLANTED'
#include <windows.h>
BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        wchar_t path[MAX_PATH + 8];
        const DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            lstrcatW(path, L".loaded");
            HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
            if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
        }
    }
    return TRUE;
}
PLANTED
# The control: a program that loads hid.dll by name as hidapi does, without
# restricting the search first; it must meet the planted one.
cat >"$work/loads_hid.c" <<'CONTROL'
#include <windows.h>
int main(void) { return LoadLibraryW(L"hid.dll") != NULL ? 0 : 1; }
CONTROL
x86_64-w64-mingw32-gcc -shared -o "$downloads/hid.dll" "$work/planted.c"
cp "$downloads/hid.dll" "$downloads/cfgmgr32.dll"
cp "$downloads/hid.dll" "$downloads/winmm.dll"
cp "$downloads/hid.dll" "$downloads/bcrypt.dll"
cp "$downloads/hid.dll" "$downloads/ws2_32.dll"
cp "$downloads/hid.dll" "$downloads/mswsock.dll"
x86_64-w64-mingw32-gcc -o "$downloads/loads_hid.exe" "$work/loads_hid.c"
cp build-windows/standard/QuorlFirmwareUpdateApp.exe "$devices" "$station" "$page_demo" "$downloads/"
run wine "$downloads/loads_hid.exe"
if [ -e "$downloads/hid.dll.loaded" ]; then
  pass "control: a program that searches beside itself loads the planted hid.dll"
else
  fail "control: the planted hid.dll was not loaded by a program that searches beside itself"
fi
rm -f "$downloads"/*.loaded
# Each command that loads hidapi's DLLs, the device listing's, and the
# controller update's retries, which pause between their tries.
for command in "QuorlFirmwareUpdateApp.exe -b" "QuorlFirmwareUpdateApp.exe -R" \
               "QuorlFirmwareUpdateApp.exe samples/sample_dongle.bin" "quorl-devices.exe" \
               "quorl-devices.exe --json" "QuorlFirmwareUpdateApp.exe samples/tivane_firmware.bin" \
               "QuorlFirmwareUpdateApp.exe samples/controller_firmware.bin" \
               "quorl-station.exe -- samples/controller_firmware.bin"; do
  read -r program args <<<"$command"
  # shellcheck disable=SC2086
  run wine "$downloads/$program" $args
  loaded=$(cd "$downloads" && ls ./*.loaded 2>/dev/null || true)
  if [ -z "$loaded" ]; then
    pass "$command beside planted DLLs loads none of them"
  else
    fail "$command loaded planted DLLs" "$loaded"
    rm -f "$downloads"/*.loaded
  fi
done

# The bench's page: the Windows programs serve it under Wine on a port they
# pick and print; Linux reads it (tests/windows/dashboard_under_wine.py),
# then ends them as Ctrl+C does. From the download folder: the sockets' DLLs
# come from the system, not from beside the program. The station serves it
# idling on a bench of two empty slots, and ends through its own stop path.
# page_check LABEL [--status N] -- PROGRAM ARGS...
page_check() {
  local label=$1 page_status
  shift
  set +e
  /usr/bin/python3 tests/windows/dashboard_under_wine.py station/dashboard/page "$@" >"$work/page.log" 2>&1
  page_status=$?
  set -e
  while IFS= read -r line; do
    case $line in
      "ok: "*) pass "$label: ${line#ok: }" ;;
      "FAILED: "*) fail "$label: ${line#FAILED: }" ;;
      *) echo "$line" ;;
    esac
  done <"$work/page.log"
  if [ "$page_status" -ne 0 ] && ! grep -q '^FAILED: ' "$work/page.log"; then
    fail "$label: the check ended with status $page_status"
  fi
}
page_check "page demo" -- wine "$downloads/dashboard-demo.exe" --port 0
run wine "$station" --help
if grep -q -- '--dashboard' <<<"$out"; then
  cat >"$work/bench.toml" <<'BENCH'
name = "Bench under Wine"
columns = 2

[[slot]]
label = "A1"
port = "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1)"

[[slot]]
label = "A2"
port = "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)"
BENCH
  page_check "station's page" --status 0 -- wine "$downloads/quorl-station.exe" --bench "$work/bench.toml" \
    --continuous --dashboard 127.0.0.1:0 -- samples/controller_firmware.bin
fi
loaded=$(cd "$downloads" && ls ./*.loaded 2>/dev/null || true)
if [ -z "$loaded" ]; then
  pass "the page served beside planted ws2_32.dll and mswsock.dll: neither loaded"
else
  fail "the page's program loaded planted DLLs" "$loaded"
fi
smoked=$SECONDS

echo "== the test suite under Wine (simulated devices with hidapi's Windows conventions) =="
# Serial ports for the COM port tests: Wine opens COMn as what
# dosdevices/comn links to. COM12 is a pseudo-terminal whose far end socat
# copies into com12.received; COM13 a plain file; COM14 nothing. In the same
# folder, null-device.log is a character device under a file's name.
ports=$(mkdir -p "$work/ports" && cd "$work/ports" && pwd)
printf 'not a serial port' >"$ports/com13.plain"
ln -sfn /dev/null "$ports/null-device.log"
ln -sfn "$ports/com13.plain" "$WINEPREFIX/dosdevices/com13"
rm -f "$WINEPREFIX/dosdevices/com12" "$WINEPREFIX/dosdevices/com14"
socat -u PTY,link="$WINEPREFIX/dosdevices/com12",raw,echo=0 CREATE:"$ports/com12.received" &
serial_stand_in=$!
for _ in $(seq 50); do
  [ -e "$WINEPREFIX/dosdevices/com12" ] && break
  sleep 0.1
done
# Through a pipe, as a script reads the tool: never a console that draws the
# progress bar.
set +e
QUORL_WINE_PORTS=$(winepath -w "$ports") wine build-windows/tests/quorl_tests.exe --gtest_brief=1 2>&1 |
  tr -d '\r' | tee "$work/suite.log"
suite=${PIPESTATUS[0]}
set -e
if [ "$suite" -eq 0 ]; then pass "the test suite under Wine"; else fail "the test suite under Wine (status $suite)"; fi

echo "Windows: $passed passed, $failed failed (build $((built - started)) s, programs $((smoked - built)) s, suite $((SECONDS - smoked)) s)"
[ "$failed" -eq 0 ]
