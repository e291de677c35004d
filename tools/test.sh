#!/usr/bin/env bash
# Installs what is missing, builds with and without the sanitizers, and runs every test.
# A test that skips fails the run unless tests/allowed-skips.txt names it: ctest counts a skip
# as a pass, and the only test of a guarantee may be the one that skips.
# The test presets run several tests at once: the end-to-end ones spend most of their time
# waiting for the robot, each with a display, folders and ports of its own. The builds run one
# after the other (two cores); how long each stage took is printed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."

stages=()
# timed NAME COMMAND...: runs the command and notes how long it took.
timed() {
  local name=$1 start=$SECONDS rc=0
  shift
  "$@" || rc=$?
  stages+=("$(printf '%-16s %4d s' "$name" $((SECONDS - start)))")
  return $rc
}

timed deps bash tools/install-deps.sh

# The formatting check uses the project's own .clang-format.
git ls-files -- '*.cpp' '*.h' | xargs clang-format --dry-run -Werror

export SDL_AUDIODRIVER=dummy
status=0
# Each ctest run's results, read for skips at the end.
results=$(mktemp -d)
clean_root=""
# A run cut short still lets the clean-root check end and take its mounts down.
trap '[ -z "$clean_root" ] || wait "$clean_root" 2>/dev/null; rm -rf "$results"' EXIT
runs=()
build() { cmake --preset "$1" >/dev/null && cmake --build --preset "$1"; }
run_tests() {
  local preset=$1
  runs+=("$preset=$results/$preset.xml")
  timed "tests $preset" ctest --preset "$preset" --output-junit "$results/$preset.xml" || status=1
}

echo "== default =="
timed "build default" build default
run_tests default

# The Debian package of the default build, installed into this machine and run from there.
echo "== package =="
timed package bash tools/check-package.sh build || status=1
# The same package in a minimal Debian root, where only what it pulls in is there. It mostly
# unpacks and installs, so it runs beside the sanitized build and its tests; its output is
# shown once it is done.
clean_root_log=$results/clean-root.log
(
  start=$SECONDS
  status=0
  bash tools/check-clean-root.sh build || status=$?
  echo "$((SECONDS - start))" >"$results/clean-root.seconds"
  exit $status
) >"$clean_root_log" 2>&1 &
clean_root=$!

echo "== asan =="
timed "build asan" build asan
run_tests asan

# The fuzzers (clang, libFuzzer from libclang-rt) replay their corpus, then mutate for seconds.
echo "== fuzz =="
timed "build fuzz" build fuzz
run_tests fuzz

echo "== clean root =="
clean_root_status=0
wait "$clean_root" || clean_root_status=$?
clean_root=""
cat "$clean_root_log"
stages+=("$(printf '%-16s %4d s (beside the asan stage)' "clean root" \
  "$(cat "$results/clean-root.seconds" 2>/dev/null || echo 0)")")
[ "$clean_root_status" -eq 0 ] || { echo "clean root: failed ($clean_root_status)"; status=1; }

echo "== skips =="
python3 tests/check_skips.py tests/allowed-skips.txt "${runs[@]}" || status=1

echo "== time per stage (total $((SECONDS / 60)) min $((SECONDS % 60)) s) =="
printf '%s\n' "${stages[@]}"
exit $status
