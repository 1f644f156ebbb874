#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tools need, when
# any is missing. Needs root (apt-get); CI runs as root.
set -euo pipefail

packages=(
  cmake make g++ g++-multilib binutils pkg-config
  googletest libgtest-dev libgmock-dev
  nlohmann-json3-dev libcli11-dev
  clang libclang-rt-14-dev valgrind
)
if [ "${1:-}" = "--bench" ]; then
  packages+=(libbenchmark-dev gnuplot-nox)
fi

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
