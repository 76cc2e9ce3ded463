#!/usr/bin/env bash
# Fuzzes the tool: builds the libFuzzer targets of fuzz/ with clang into
# build-fuzz/ and runs each for the given number of seconds (default 600),
# from its committed seed corpus fuzz/corpus/<target>/.
#
#   scripts/fuzz.sh [seconds] [target...]
#
# New corpus entries go to build-fuzz/corpus/<target>/ (kept between runs,
# never into the repository), findings (crash-*, timeout-*, leak-*) to
# build-fuzz/findings/<target>/. Exits non-zero when any target found
# something. Replay a finding with
#   QUORL_FUZZ_ECHO=1 build-fuzz/fuzz/<target> <file>
# which shows the command line, the tool's output and its exit status.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-600}"
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in fuzz/*Fuzzer.cpp; do
    targets+=("$(basename "$source" .cpp)")
  done
fi

scripts/setup.sh
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DQUORL_FUZZ=ON -DQUORL_BUILD_TESTS=OFF
cmake --build build-fuzz --target "${targets[@]}"

found=()
for target in "${targets[@]}"; do
  corpus="build-fuzz/corpus/$target"
  findings="build-fuzz/findings/$target"
  mkdir -p "$corpus" "$findings"
  options=(-max_total_time="$seconds" -timeout=10 -print_final_stats=1 -artifact_prefix="$findings/")
  if [ -f "fuzz/$target.dict" ]; then
    options+=(-dict="fuzz/$target.dict")
  fi
  # The device answers are fault scripts: room for faults deep in a transfer.
  if [ "$target" = DeviceAnswersFuzzer ]; then
    options+=(-max_len=1024)
  fi
  echo "== $target for $seconds s =="
  if ! "build-fuzz/fuzz/$target" "${options[@]}" "$corpus" "fuzz/corpus/$target"; then
    found+=("$target")
  fi
done

if [ ${#found[@]} -gt 0 ]; then
  echo "Findings of ${found[*]} in build-fuzz/findings/" >&2
  exit 1
fi
