#!/usr/bin/env bash
# The stress suites with the sizes CI runs, each printing its figures and wall time:
# kills during toggles, concurrent writers, injected I/O faults and a real full disk, the Windows
# program's kills and concurrent writers under Wine, libFuzzer targets (clang, ASan+UBSan), and
# hostile servers. Sizes can be changed through the environment.
set -euo pipefail
cd "$(dirname "$0")/.."

FUZZ_SECONDS=${FUZZ_SECONDS:-60}
KILLS=${KILLS:-1000}
INPLACE_KILLS=${INPLACE_KILLS:-100}
HOSTS_MB=${HOSTS_MB:-20}
ROUNDS_OF_2=${ROUNDS_OF_2:-200}
ROUNDS_OF_8=${ROUNDS_OF_8:-50}
WIN_KILLS=${WIN_KILLS:-100}
WIN_HOSTS_MB=${WIN_HOSTS_MB:-20}
WIN_ROUNDS=${WIN_ROUNDS:-20}

# STRESS_BUILD may name an existing RelWithDebInfo build (CI reuses the test build), and
# WIN_STRESS_BUILD the Windows build (make windows's).
stress_build=${STRESS_BUILD:-build-stress}
win_build=${WIN_STRESS_BUILD:-build-win}

./scripts/install-deps.sh
cmake -S . -B "$stress_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$stress_build" --target stress_programs
cmake -S . -B "$win_build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake >/dev/null
cmake --build "$win_build" --target vantrel_stress_hosts_win
./scripts/wine-prefix.sh "$win_build/wine-prefix"
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTREL_FUZZ=ON \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer" >/dev/null
cmake --build build-fuzz --target fuzzers

total_start=$SECONDS
failed_suites=()
# Runs every suite even when one fails; the script fails at the end.
suite() {
  local name=$1
  shift
  local start=$SECONDS
  echo "== $name"
  "$@" || failed_suites+=("$name")
  echo "== $name: wall time $((SECONDS - start)) s"
}

hosts=$stress_build/stress/vantrel_stress_hosts
suite crash "$hosts" crash "$KILLS" "$INPLACE_KILLS" "$HOSTS_MB"
suite concurrency "$hosts" concurrency "$ROUNDS_OF_2" "$ROUNDS_OF_8"
suite faults "$hosts" faults
suite "full disk" "$hosts" fulldisk
win_hosts=$win_build/stress/vantrel_stress_hosts_win.exe
suite "crash (Windows)" ./scripts/wine-run.sh "$win_hosts" crash "$WIN_KILLS" "$WIN_HOSTS_MB"
suite "concurrency (Windows)" ./scripts/wine-run.sh "$win_hosts" concurrency "$WIN_ROUNDS"

# Each target keeps its corpus between runs; a finding is left as crash-* in build-fuzz/findings.
fuzz_one() {
  local target=$1 dict=$2
  local corpus=build-fuzz/corpus/$target findings=build-fuzz/findings
  mkdir -p "$corpus" "$findings"
  local log=build-fuzz/$target.log
  if build-fuzz/stress/fuzz/"$target" -max_total_time="$FUZZ_SECONDS" -max_len=4096 \
      -dict="stress/fuzz/$dict" -artifact_prefix="$findings/$target-" -print_final_stats=1 \
      "$corpus" >"$log" 2>&1; then
    echo "fuzz: $target: $(grep -m1 -o 'number_of_executed_units: *[0-9]*' "$log" |
      grep -o '[0-9]*$') executions in ${FUZZ_SECONDS} s, nothing found"
  else
    echo "fuzz: $target: FOUND A FAULT (see $log and $findings/$target-*)"
    grep -m3 -E 'property broken|ERROR|runtime error' "$log" || true
    return 1
  fi
}
fuzz_all() {
  # Two at a time: one a core.
  local failed=0
  fuzz_one fuzz_hosts_block hosts.dict & local a=$!
  fuzz_one fuzz_fetch_head head.dict & local b=$!
  wait $a || failed=1
  wait $b || failed=1
  fuzz_one fuzz_upgrade_page upgrade.dict & a=$!
  fuzz_one fuzz_settings_lines hosts.dict & b=$!
  wait $a || failed=1
  wait $b || failed=1
  fuzz_one fuzz_domain_split hosts.dict || failed=1
  return $failed
}
suite fuzzing fuzz_all
suite "hostile servers" "$stress_build"/stress/vantrel_stress_net 2000 2000
echo "== all stress suites: wall time $((SECONDS - total_start)) s"
if [ ${#failed_suites[@]} -gt 0 ]; then
  echo "== FAILED: ${failed_suites[*]}"
  exit 1
fi
