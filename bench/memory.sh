#!/usr/bin/env bash
# Peak resident memory of the tool as the image grows: the simulated-device
# build updating a simulated controller with a 64 KiB and with a 64 MiB image,
# and the image checksum ("-c") of a 64 KiB and of a 1 GiB file.
#
# The simulated devices run with QUORL_SIM_BOUNDED=1: they keep counts instead
# of every report and check the image as it arrives instead of storing it, so
# that what grows, if anything, is the tool. One more run without it shows
# what the simulator itself holds when it keeps everything (not counted
# against the goal).
#
# Usage: bench/memory.sh [DIR]   (image files made in DIR, default $TMPDIR or
# /tmp, and removed afterwards). QUORL_SIM_TOOL overrides the tool (default
# build/sim/standard/QuorlFirmwareUpdateApp).
#
# Goal: the larger images add at most 256 KiB of peak memory over the
# smallest. Exit status 0 when met, 1 when missed, 2 on a setup error.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
tool="${QUORL_SIM_TOOL:-$root/build/sim/standard/QuorlFirmwareUpdateApp}"
dir="${1:-${TMPDIR:-/tmp}}"
limit_kib=256

if [ ! -x "$tool" ]; then
    echo "No simulated-device build at $tool: build first (cmake --build build)." >&2
    exit 2
fi
if [ ! -x /usr/bin/time ]; then
    echo "/usr/bin/time is missing: run scripts/setup.sh (package time)." >&2
    exit 2
fi
work="$(mktemp -d "$dir/quorl_memory_bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT

echo "Making images in $work..."
head -c $((64 * 1024)) /dev/urandom >"$work/small.bin"
head -c $((64 * 1024 * 1024)) /dev/urandom >"$work/large.bin"
head -c $((1024 * 1024 * 1024)) /dev/urandom >"$work/huge.bin"

# Peak resident size in KiB of one run; the run must succeed.
peak_kib() {
    local report="$work/time.txt"
    if ! /usr/bin/time -v -o "$report" "$@" >/dev/null 2>"$work/stderr.txt"; then
        echo "Failed: $*" >&2
        cat "$work/stderr.txt" >&2
        exit 2
    fi
    awk -F': ' '/Maximum resident set size/ { print $2 }' "$report"
}

update() {  # image, bounded (1/0)
    QUORL_SIM_DEVICES=controller QUORL_SIM_BOUNDED="$2" peak_kib "$tool" "$1"
}

update_small=$(update "$work/small.bin" 1)
update_large=$(update "$work/large.bin" 1)
checksum_small=$(peak_kib "$tool" -c "$work/small.bin")
checksum_huge=$(peak_kib "$tool" -c "$work/huge.bin")
update_large_unbounded=$(update "$work/large.bin" 0)

smallest=$(printf '%s\n' "$update_small" "$checksum_small" | sort -n | head -1)
status=0
row() {  # name, KiB, counted against the goal (1/0)
    local growth=$(($2 - smallest))
    local note=""
    if [ "$3" = 1 ] && [ "$growth" -gt "$limit_kib" ]; then
        note="  over the goal"
        status=1
    fi
    [ "$3" = 1 ] || note="  (simulator keeping everything; not the tool)"
    printf '%-44s %8d KiB  %+8d KiB%s\n' "$1" "$2" "$growth" "$note"
}

echo
echo "Peak resident size, and growth over the smallest run ($(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')):"
row "controller update, 64 KiB image" "$update_small" 1
row "controller update, 64 MiB image" "$update_large" 1
row "-c, 64 KiB image" "$checksum_small" 1
row "-c, 1 GiB image" "$checksum_huge" 1
row "controller update, 64 MiB, QUORL_SIM_BOUNDED=0" "$update_large_unbounded" 0
echo
if [ $status = 0 ]; then
    echo "met:    larger images add at most $limit_kib KiB of peak memory"
else
    echo "missed: larger images add more than $limit_kib KiB of peak memory"
fi
exit $status
