#!/usr/bin/env bash
# The library defines exactly the sld_ functions of the list and nothing
# else, and leaves the JTAG client and thr_ symbols undefined.
set -euo pipefail
lib=$1 expected=$2
defined=$(nm -D --defined-only "$lib" | awk '{print $NF}' | sed 's/@.*//' | sort -u)
if ! diff <(sort "$expected") <(echo "$defined"); then
  echo "defined symbols differ from $expected (< expected, > found)" >&2
  exit 1
fi
undefined=$(nm -D --undefined-only "$lib" | awk '{print $NF}')
for sym in _Z8scx_lockP8SCX_OPENm14SCX_PACK_STYLE thr_mutex_create thr_thread_var_get; do
  case "$sym" in
    _Z8scx_lock*) pattern='^_Z8scx_lockP8SCX_OPEN[mj]14SCX_PACK_STYLE$' ;;
    *) pattern="^$sym\$" ;;
  esac
  echo "$undefined" | grep -qE "$pattern" || { echo "missing undefined reference $sym" >&2; exit 1; }
done
if readelf -d "$lib" | grep -E "NEEDED" | grep -qE "scx|thr"; then
  echo "the library must not link a JTAG client or thr_ library" >&2
  exit 1
fi
echo "exports ok: $(echo "$defined" | wc -l) sld_ functions"
