#!/usr/bin/env bash
# Runs every test executable of the x86-64 build once under valgrind
# memcheck, each as one process with all its tests, two at a time. Fails on
# any memcheck error (invalid access, use of uninitialised memory, bad free)
# and on any definitely lost block. Threads are scheduled fairly: with
# valgrind's default lock a thread test's spinning threads can starve the
# others for minutes.
set -euo pipefail
cd "$(dirname "$0")/.."
# MEMCHECK_BUILD_DIR names another, already built, build directory.
build=${MEMCHECK_BUILD_DIR:-build/x64}

if ! command -v valgrind >/dev/null; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "memcheck: valgrind is missing and installing it needs root" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends valgrind >/dev/null
fi

if [ -z "${MEMCHECK_BUILD_DIR:-}" ]; then
  [ -f "$build/CMakeCache.txt" ] || cmake --preset x64 >/dev/null
  cmake --build --preset x64 >/dev/null
fi

logs=$build/memcheck
rm -rf "$logs"
mkdir -p "$logs"

# Test executables: the GoogleTest programs among the build's test outputs.
executables=()
while IFS= read -r exe; do
  [ "$(head -c 4 "$exe" | tr -d '\0')" = "$(printf '\177ELF')" ] || continue
  "$exe" --gtest_list_tests >/dev/null 2>&1 || continue
  executables+=("$exe")
done < <(find "$build/tests" -type f -perm -u+x ! -path '*/CMakeFiles/*' ! -name '*.so*' | sort)
if [ ${#executables[@]} -eq 0 ]; then
  echo "memcheck: no test executables under $build/tests" >&2
  exit 1
fi

# run_one <executable>: writes <log>.log and <log>.status.
run_one() {
  local exe=$1
  local log
  log="$logs/$(basename "$exe")"
  local start=$SECONDS status=0
  (cd "$(dirname "$exe")" &&
    valgrind --tool=memcheck --fair-sched=yes --error-exitcode=99 --leak-check=full --show-leak-kinds=definite \
      --errors-for-leak-kinds=definite --child-silent-after-fork=yes --num-callers=30 \
      "./$(basename "$exe")") >"$log.log" 2>&1 || status=$?
  echo "$status $((SECONDS - start))" >"$log.status"
}

echo "memcheck: ${#executables[@]} test executables"
running=()
for exe in "${executables[@]}"; do
  run_one "$exe" &
  running+=($!)
  if [ ${#running[@]} -ge 2 ]; then
    wait "${running[0]}"
    running=("${running[@]:1}")
  fi
done
for pid in "${running[@]}"; do wait "$pid"; done

failed=0
for exe in "${executables[@]}"; do
  name=$(basename "$exe")
  read -r status took <"$logs/$name.status"
  errors=$(grep -oE 'ERROR SUMMARY: [0-9]+ errors' "$logs/$name.log" | tail -n 1 | awk '{print $3}')
  lost=$(grep -oE 'definitely lost: [0-9,]+ bytes in [0-9,]+ blocks' "$logs/$name.log" | tail -n 1 || true)
  printf 'memcheck: %-40s %4ss  exit %-3s errors %-3s %s\n' "$name" "$took" "$status" "${errors:-?}" \
    "${lost:-definitely lost: 0 bytes}"
  if [ "$status" -ne 0 ]; then
    failed=$((failed + 1))
    grep -E '^==[0-9]+== ' "$logs/$name.log" | head -n 60 || true
    grep -E '^\[  FAILED  \]' "$logs/$name.log" | head -n 20 || true
  fi
done
if [ "$failed" -ne 0 ]; then
  echo "memcheck: FAILED in $failed of ${#executables[@]} executables (logs in $logs)"
  exit 1
fi
echo "memcheck: ${#executables[@]} executables, no memcheck error and no definitely lost block"
