#!/usr/bin/env bash
# quorl-station with 1, 2, 4 and 8 simulated controllers updated at once, the
# devices' pauses slept in real time (QUORL_SIM_REALTIME=1): the wall time of
# N units against that of one, and the station's own CPU per unit against a
# worker's. Goals: 8 units take at most 1.3 times as long as 1; the station's
# CPU per unit stays under 5 % of a worker's.
#
#   bench/station_units.sh [ROUNDS [IMAGE_KIB]]     # defaults: 5, 256
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-5}
kib=${2:-256}
station=build/sim/quorl-station
[ -x "$station" ] || { echo "build first: scripts/build.sh" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
image="$work/controller_firmware.bin"
head -c $((kib * 1024 + 8192)) /dev/urandom >"$image"

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
calc() { awk "BEGIN { print $1 }"; }

declare -A wall cpu_ratio
echo "units  wall s (median of $rounds)  vs 1 unit  station CPU/unit  worker CPU/unit  station/worker"
for units in 1 2 4 8; do
  devices=$(printf 'controller,%.0s' $(seq "$units")); devices=${devices%,}
  : >"$work/walls"; : >"$work/ratios"; : >"$work/station"; : >"$work/worker"
  for _ in $(seq "$rounds"); do
    start=$(date +%s.%N)
    QUORL_SIM_DEVICES=$devices QUORL_SIM_REALTIME=1 QUORL_SIM_STATION_CPU=1 \
      "$station" --all --jobs 8 -- "$image" >/dev/null 2>"$work/err"
    end=$(date +%s.%N)
    calc "$end - $start" >>"$work/walls"
    line=$(grep '^\[sim\] station CPU' "$work/err")
    station_cpu=$(echo "$line" | awk '{ print $4 }')
    worker_cpu=$(echo "$line" | awk '{ print $11 }')
    calc "$station_cpu / $units" >>"$work/station"
    calc "$worker_cpu / $units" >>"$work/worker"
    calc "$station_cpu / $worker_cpu" >>"$work/ratios"
  done
  wall[$units]=$(median <"$work/walls")
  printf '%5d  %24.2f  %9.2f  %15.4f s  %14.4f s  %13.3f\n' "$units" "${wall[$units]}" \
    "$(calc "${wall[$units]} / ${wall[1]}")" "$(median <"$work/station")" \
    "$(median <"$work/worker")" "$(median <"$work/ratios")"
  cpu_ratio[$units]=$(median <"$work/ratios")
done
ratio=$(calc "${wall[8]} / ${wall[1]}")
status=0
if [ "$(calc "($ratio > 1.3) ? 1 : 0")" = 1 ]; then
  echo "goal missed: 8 units took $ratio times as long as 1"; status=1
else
  echo "goal met: 8 units took $(printf '%.2f' "$ratio") times as long as 1"
fi
for units in 1 2 4 8; do
  if [ "$(calc "(${cpu_ratio[$units]} >= 0.05) ? 1 : 0")" = 1 ]; then
    echo "goal missed: with $units units the station used ${cpu_ratio[$units]} of the workers' CPU"; status=1
  fi
done
[ "$status" = 0 ] && echo "goal met: the station's CPU stayed under 5 % of its workers'"
exit "$status"
