#!/usr/bin/env bash
# The main job: builds the host tool and the examples (build/x64/examples/),
# and lists every cable, device, hub and node of the built-in simulated
# board. Extra arguments go to `sldtool list`.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset x64 >/dev/null
cmake --build --preset x64 --target sldtool examples >/dev/null
exec build/x64/tools/sldtool list "$@"
