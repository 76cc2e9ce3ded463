#!/usr/bin/env bash
# Times the image checksum of the real build ("-c FILE") on a large file
# against cat and md5sum reading the same file, in the same run, with the file
# in the page cache: several rounds, each command once per round, medians.
#
# Usage: bench/checksum_vs_cat.sh [DIR [ROUNDS [MIB]]]
#   DIR     where the test file is made (default $TMPDIR or /tmp); removed afterwards
#   ROUNDS  rounds of measurement (default 7)
#   MIB     file size in MiB (default 1024)
# QUORL_TOOL overrides the tool (default build/standard/QuorlFirmwareUpdateApp).
#
# Goals: "-c" takes at most 2.0 times cat's time, and at most a tenth of
# md5sum's.
# Exit status 0 when both are met, 1 when one is missed, 2 on a setup error.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
tool="${QUORL_TOOL:-$root/build/standard/QuorlFirmwareUpdateApp}"
dir="${1:-${TMPDIR:-/tmp}}"
rounds="${2:-7}"
mib="${3:-1024}"

if [ ! -x "$tool" ]; then
    echo "No tool at $tool: build first (cmake --build build)." >&2
    exit 2
fi
file="$(mktemp "$dir/quorl_checksum_bench.XXXXXX")"
trap 'rm -f "$file"' EXIT

echo "Making a $mib MiB file in $dir..."
head -c "$((mib * 1024 * 1024))" /dev/urandom >"$file"
# Warm the page cache, and check that each command works on the file.
cat "$file" >/dev/null
"$tool" -c "$file" >/dev/null
md5sum "$file" >/dev/null

# Wall-clock nanoseconds of one run of a command, its output discarded.
elapsed_ns() {
    local start end
    start=$(date +%s%N)
    "$@" >/dev/null
    end=$(date +%s%N)
    echo $((end - start))
}

median() {
    sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

declare -a cat_ns tool_ns md5_ns
for ((round = 1; round <= rounds; ++round)); do
    # Interleaved, so that a busy moment on the machine hits every command.
    cat_ns+=("$(elapsed_ns cat "$file")")
    tool_ns+=("$(elapsed_ns "$tool" -c "$file")")
    md5_ns+=("$(elapsed_ns md5sum "$file")")
done

cat_median=$(printf '%s\n' "${cat_ns[@]}" | median)
tool_median=$(printf '%s\n' "${tool_ns[@]}" | median)
md5_median=$(printf '%s\n' "${md5_ns[@]}" | median)

row() {  # name, median ns
    awk -v name="$1" -v ns="$2" -v mib="$mib" \
        'BEGIN { printf "%-28s %8.3f s %10.0f MiB/s\n", name, ns / 1e9, mib / (ns / 1e9) }'
}
echo
echo "Medians of $rounds rounds, $mib MiB file in the page cache ($(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')):"
row "cat FILE >/dev/null" "$cat_median"
row "QuorlFirmwareUpdateApp -c" "$tool_median"
row "md5sum FILE" "$md5_median"
echo

status=0
verdict() {  # description, met (1/0)
    if [ "$2" = 1 ]; then
        echo "met:    $1"
    else
        echo "missed: $1"
        status=1
    fi
}
ratios=$(awk -v t="$tool_median" -v c="$cat_median" -v m="$md5_median" \
    'BEGIN { printf "%.2f %.3f %d %d", t / c, t / m, (t <= 2.0 * c), (10 * t <= m) }')
read -r tool_vs_cat tool_vs_md5 cat_met md5_met <<<"$ratios"
verdict "-c at most 2.0 x cat's time (takes ${tool_vs_cat} x)" "$cat_met"
verdict "-c at most a tenth of md5sum's time (takes ${tool_vs_md5} x)" "$md5_met"
exit $status
