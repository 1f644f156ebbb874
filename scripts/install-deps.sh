#!/usr/bin/env bash
# Installs the Debian packages a job needs, when any is missing. Needs root
# (apt-get); CI runs as root.
#   install-deps.sh          the main job: build the library and the host tool
#   install-deps.sh --test   also everything the test command uses
#   install-deps.sh --bench  the main job plus the benchmark tools
set -euo pipefail

packages=(cmake make g++ pkg-config nlohmann-json3-dev libcli11-dev help2man)
case "${1:-}" in
  --test)
    packages+=(g++-multilib binutils googletest libgtest-dev libgmock-dev
               clang libclang-rt-14-dev valgrind openocd
               python3 python3-pytest python3-hypothesis
               gcc-riscv64-unknown-elf gdb-multiarch) ;;
  --bench)
    packages+=(libbenchmark-dev gnuplot-nox valgrind linux-perf python3 openocd) ;;
  "") ;;
  *) echo "usage: $0 [--test|--bench]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "error: these packages are missing and installing them needs root: ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
