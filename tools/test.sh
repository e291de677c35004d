#!/usr/bin/env bash
# Installs what is missing, builds with and without the sanitizers, and runs every test.
# A test that skips fails the run unless tests/allowed-skips.txt names it: ctest counts a skip
# as a pass, and the only test of a guarantee may be the one that skips.
# The test presets run several tests at once: the end-to-end ones spend most of their time
# waiting for the robot, each with a display, folders and ports of its own. The builds run one
# after the other (two cores), and what leaves processor time free has a stage beside it; how
# long each stage took is printed at the end.
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
# Stages run beside others: their process ids, waited for even when the run is cut short (the
# clean root takes its mounts down as it ends).
declare -A beside_pid=()
trap 'for pid in "${beside_pid[@]}"; do wait "$pid" 2>/dev/null; done; rm -rf "$results"' EXIT
runs=()
build() { cmake --preset "$1" >/dev/null && cmake --build --preset "$1"; }
run_tests() {
  local preset=$1
  runs+=("$preset=$results/$preset.xml")
  timed "tests $preset" ctest --preset "$preset" --output-junit "$results/$preset.xml" || status=1
}
# beside NAME COMMAND...: runs the command in the background, its output kept for `joined`.
beside() {
  local name=$1
  shift
  (
    start=$SECONDS
    rc=0
    "$@" || rc=$?
    echo "$((SECONDS - start))" >"$results/$name.seconds"
    exit $rc
  ) >"$results/$name.log" 2>&1 &
  beside_pid[$name]=$!
}
# joined NAME WHAT: waits for a stage started by `beside`, shows its output and notes its time.
joined() {
  local name=$1 rc=0
  wait "${beside_pid[$name]}" || rc=$?
  echo "== ${name//_/ } =="
  cat "$results/$name.log"
  stages+=("$(printf '%-16s %4d s (beside %s)' "${name//_/ }" \
    "$(cat "$results/$name.seconds" 2>/dev/null || echo 0)" "$2")")
  [ "$rc" -eq 0 ] || { echo "${name//_/ }: failed ($rc)"; status=1; }
}
# The fuzzers (clang, libFuzzer from libclang-rt) replay their corpus, then mutate for seconds.
# Two compilers at a time: the tests beside them keep the rest of the machine.
fuzz_stage() {
  cmake --preset fuzz >/dev/null && cmake --build --preset fuzz -j2 &&
    ctest --preset fuzz --output-junit "$results/fuzz.xml"
}

echo "== default =="
timed "build default" build default

# The Debian package of the default build, installed into this machine and run from there.
echo "== package =="
timed package bash tools/check-package.sh build || status=1

# The default tests mostly wait for the robots they start, so the fuzzers are built and run
# beside them, on the processor time they leave.
beside fuzz fuzz_stage
runs+=("fuzz=$results/fuzz.xml")
run_tests default
joined fuzz "the default tests"

# The same package in a minimal Debian root, where only what it pulls in is there. It mostly
# unpacks and installs, so it runs beside the sanitized build and its tests.
beside clean_root bash tools/check-clean-root.sh build

echo "== asan =="
timed "build asan" build asan
run_tests asan

joined clean_root "the asan stage"

echo "== skips =="
python3 tests/check_skips.py tests/allowed-skips.txt "${runs[@]}" || status=1

echo "== time per stage (total $((SECONDS / 60)) min $((SECONDS % 60)) s) =="
printf '%s\n' "${stages[@]}"
exit $status
