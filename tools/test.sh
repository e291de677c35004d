#!/usr/bin/env bash
# Installs what is missing, builds with and without the sanitizers, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh

# The formatting check uses the project's own .clang-format.
git ls-files -- '*.cpp' '*.h' | xargs clang-format --dry-run -Werror

export SDL_AUDIODRIVER=dummy
status=0
for preset in default asan; do
  echo "== $preset =="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset" || status=1
done

# The Debian package of the default build, installed into this machine and run from there.
echo "== package =="
bash tools/check-package.sh build || status=1

# The fuzzers (clang, libFuzzer from libclang-rt) replay their corpus with a short run each.
echo "== fuzz =="
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
ctest --preset fuzz || status=1
exit $status
