#!/usr/bin/env bash
# Builds Ventari, prepares a demo game and starts the robot on it.
# Usage: bash tools/demo.sh [demo folder]   (default: build/demo)
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

bash tools/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default

demo=${1:-$top/build/demo}
rm -rf "$demo"
mkdir -p "$demo"/{stars,jeux/demo,pub}
demo=$(cd "$demo" && pwd)

# The host settings file, in the folder the robot starts in.
printf 'binaires\t%s\r\nexecutable\tstars.exe\r\npublication\t%s\r\njeux\t%s\r\n' \
  "$demo/stars" "$demo/pub" "$demo/jeux" >"$demo/ventari.def"
printf 'demo game executable\n' >"$demo/stars/stars.exe"
# The game settings file: two human players and one computer player.
printf 'jeu\tdemo\r\nweb\tligue\r\nhote\thost@localhost\r\nreserve\t0\r\nauto\t1\r\nheures\t48\r\nnb\t3\r\nJ1\tAnn,ann@localhost\r\nJ2\tBob,bob@localhost\r\nJ3\tRobot,COMPUTER\r\n' \
  >"$demo/jeux/ventari.pla"
printf '2030-07-30 18:00:00\r\n' >"$demo/jeux/demo/nextdl.txt"
printf '2400\r\n' >"$demo/jeux/demo/curyear.txt"

cd "$demo"
if [ -n "${DISPLAY:-}" ]; then
  exec "$top/build/bin/ventari"
fi

# No display: run the robot under Xvfb for a while and keep a screenshot of its window.
display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
sleep 1
DISPLAY=$display openbox >/dev/null 2>&1 &
DISPLAY=$display "$top/build/bin/ventari" >/dev/null 2>&1 &
robot=$!
sleep 5
DISPLAY=$display import -window root "$demo/screenshot.png" || true
kill $robot 2>/dev/null || true
echo "The robot ran on $demo; its window is in $demo/screenshot.png"
