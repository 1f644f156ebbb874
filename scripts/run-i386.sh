#!/usr/bin/env bash
# Makes sure this machine runs 32-bit x86 programs, which the x86 preset's
# tests are. Some kernels and sandboxes run only 64-bit programs; there the
# user-mode emulator qemu-i386 is installed and registered with binfmt_misc
# (needs root), so that the tests, and the programs they start, run as they
# are. Fails when neither works.
set -euo pipefail

probe_dir=$(mktemp -d)
trap 'rm -rf "$probe_dir"' EXIT
printf 'int main(void) { return 0; }\n' >"$probe_dir/probe.c"
cc -m32 "$probe_dir/probe.c" -o "$probe_dir/probe"
"$probe_dir/probe" 2>/dev/null && exit 0

echo "run-i386: this machine does not run 32-bit programs; registering qemu-i386 with binfmt_misc"
if [ "$(id -u)" -ne 0 ]; then
  echo "run-i386: installing and registering the emulator needs root" >&2
  exit 1
fi
if ! command -v qemu-i386 >/dev/null; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends qemu-user >/dev/null
fi
binfmt=/proc/sys/fs/binfmt_misc
[ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
if [ ! -e "$binfmt/qemu-i386" ]; then
  # ELF, 32-bit, little endian, executable or shared object, machine i386;
  # F keeps the emulator open, so it works inside other mount namespaces.
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:F' \
    >"$binfmt/register"
fi
if ! "$probe_dir/probe"; then
  echo "run-i386: 32-bit programs still do not run" >&2
  exit 1
fi
echo "run-i386: 32-bit programs run through qemu-i386"
