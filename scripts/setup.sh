#!/usr/bin/env bash
# Installs what the build, the tests and the benchmarks need, from Debian's
# packages, and any further packages named as arguments (the Windows build's).
# Idempotent: does nothing when everything is already there.
#
#   scripts/setup.sh [package...]
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libhidapi-dev libudev-dev nlohmann-json3-dev libcli11-dev libssl-dev
  libtomlplusplus-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  umockdev libumockdev-dev
  clang libclang-rt-dev
  time file
  libcpp-httplib-dev
  chromium chromium-driver python3-selenium
  "$@"
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
