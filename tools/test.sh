#!/usr/bin/env bash
# Installs what is missing, builds with and without the sanitizers, and runs every test.
# A test that skips fails the run unless tests/allowed-skips.txt names it: ctest counts a skip
# as a pass, and the only test of a guarantee may be the one that skips.
# The test presets run several tests at once: the end-to-end ones spend most of their time
# waiting for the robot, each with a display, folders and ports of its own. The builds and the
# stages run one after the other; how long each took is printed at the end.
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
trap 'rm -rf "$results"' EXIT
runs=()
build() { cmake --preset "$1" >/dev/null && cmake --build --preset "$1"; }
run_tests() {
  local preset=$1
  runs+=("$preset=$results/$preset.xml")
  timed "tests $preset" ctest --preset "$preset" --output-junit "$results/$preset.xml" || status=1
}

for preset in default asan; do
  echo "== $preset =="
  timed "build $preset" build "$preset"
  run_tests "$preset"
done

# The Debian package of the default build, installed into this machine and run from there.
echo "== package =="
timed package bash tools/check-package.sh build || status=1
# The same package in a minimal Debian root, where only what it pulls in is there.
echo "== clean root =="
timed "clean root" bash tools/check-clean-root.sh build || status=1

# The fuzzers (clang, libFuzzer from libclang-rt) replay their corpus, then mutate for seconds.
echo "== fuzz =="
timed "build fuzz" build fuzz
run_tests fuzz

echo "== skips =="
python3 tests/check_skips.py tests/allowed-skips.txt "${runs[@]}" || status=1

echo "== time per stage (total $((SECONDS / 60)) min $((SECONDS % 60)) s) =="
printf '%s\n' "${stages[@]}"
exit $status
