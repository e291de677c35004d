#!/usr/bin/env bash
# The idle robot: CPU time over a period (default 60 s) and resident memory after start-up.
# Starts the real program under Xvfb on a prepared game with both caches and a far deadline.
#   bash bench/idle_robot.sh [seconds]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; rm -rf "$work"' EXIT

mkdir -p "$work"/{stars,jeux/idle,pub}
ln -s "$top/build/bin/starsgen" "$work/stars/stars.exe"
printf 'b\t%s\r\ne\tstars.exe\r\np\t%s\r\nj\t%s\r\n' "$work/stars" "$work/pub" "$work/jeux" \
  >"$work/ventari.def"
printf 'jeu\tidle\r\nweb\tligue\r\nhote\th@localhost\r\nr\t0\r\na\t1\r\nh\t48\r\nn\t12\r\n' \
  >"$work/jeux/ventari.pla"
for n in $(seq 12); do printf 'J%s\tP%s,p%s@localhost\r\n' $n $n $n >>"$work/jeux/ventari.pla"; done
printf '2030-07-30 18:00:00\r\n' >"$work/jeux/idle/nextdl.txt"
printf '2405\r\n' >"$work/jeux/idle/curyear.txt"

Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/display")" SDL_AUDIODRIVER=dummy
openbox >/dev/null 2>&1 &
pids+=($!)
(cd "$work" && exec "$top/build/bin/ventari") >/dev/null 2>&1 &
robot=$!
pids+=($robot)
sleep 3  # start-up and the first tick

# Time on the CPU in nanoseconds, summed over the program's threads.
cpu() { cat /proc/$robot/task/*/schedstat | awk '{sum += $1} END {printf "%d", sum}'; }
rss=$(awk '/VmRSS/ {print $2}' "/proc/$robot/status")
before=$(cpu)
sleep "$seconds"
after=$(cpu)
echo "resident memory after start-up: ${rss} kB"
kill -0 $robot || { echo "the robot ended during the measure" >&2; exit 1; }
echo "CPU time over ${seconds} s idle: $(( (after - before) / 1000 )) µs (one tick per minute included)"
