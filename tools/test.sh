#!/usr/bin/env bash
# Installs what is missing, builds with and without the sanitizers, and runs every test.
# A test that skips fails the run unless tests/allowed-skips.txt names it: ctest counts a skip
# as a pass, and the only test of a guarantee may be the one that skips.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh

# The formatting check uses the project's own .clang-format.
git ls-files -- '*.cpp' '*.h' | xargs clang-format --dry-run -Werror

export SDL_AUDIODRIVER=dummy
status=0
# Each ctest run's results, read for skips at the end.
results=$(mktemp -d)
trap 'rm -rf "$results"' EXIT
runs=()
run_tests() {
  local preset=$1
  runs+=("$preset=$results/$preset.xml")
  ctest --preset "$preset" --output-junit "$results/$preset.xml" || status=1
}

for preset in default asan; do
  echo "== $preset =="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  run_tests "$preset"
done

# The Debian package of the default build, installed into this machine and run from there.
echo "== package =="
bash tools/check-package.sh build || status=1
# The same package in a minimal Debian root, where only what it pulls in is there.
echo "== clean root =="
bash tools/check-clean-root.sh build || status=1

# The fuzzers (clang, libFuzzer from libclang-rt) replay their corpus with a short run each.
echo "== fuzz =="
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
run_tests fuzz

echo "== skips =="
python3 tests/check_skips.py tests/allowed-skips.txt "${runs[@]}" || status=1
exit $status
