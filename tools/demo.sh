#!/usr/bin/env bash
# Builds Ventari, prepares a demo game and starts the robot on it.
#
#   bash tools/demo.sh [demo folder]      (default: build/demo)
#
# The demo game "demo" has two human players and one computer player, every order in and a
# deadline in the past, with automatic generation on: within seconds the robot generates the
# turn with the stand-in game executable, publishes the files, writes the mails to the demo's
# outbox (as .eml files), and learns the new deadline from a league page server on loopback and
# the new year from the year tool. Without a display it runs under Xvfb and keeps a screenshot.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

bash tools/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target ventari staryear starsgen ready_sound

demo=${1:-$top/build/demo}
rm -rf "$demo"
mkdir -p "$demo"/{stars,jeux/demo,pub,outbox}
demo=$(cd "$demo" && pwd)
game=demo

# The Stars! installation: here the stand-in game executable; the year tool in the game folder.
ln -s "$top/build/bin/starsgen" "$demo/stars/stars.exe"
ln -s "$top/build/bin/staryear" "$demo/jeux/staryear.EXE"
cp "$top/build/bin/pret.wav" "$demo/pret.wav"

printf 'binaires\t%s\r\nexecutable\tstars.exe\r\npublication\t%s\r\njeux\t%s\r\n' \
  "$demo/stars" "$demo/pub" "$demo/jeux" >"$demo/ventari.def"
printf 'jeu\t%s\r\nweb\tligue\r\nhote\thost@localhost\r\nreserve\t0\r\nauto\t1\r\nheures\t48\r\nnb\t3\r\nJ1\tAnn,ann@localhost\r\nJ2\tBob,bob@localhost\r\nJ3\tRobot,COMPUTER\r\n' \
  "$game" >"$demo/jeux/ventari.pla"
(cd "$demo/jeux/$game" && "$top/build/bin/starsgen" --new "$game.hst" --players 3)
# The two human players submit their orders, as their game clients would.
for n in 1 2; do (cd "$demo/jeux/$game" && "$top/build/bin/starsgen" --orders "$game.m$n"); done
printf '2002-07-30 18:00:00\r\n' >"$demo/jeux/$game/nextdl.txt"

# The league's deadline page, on a free loopback port.
python3 tools/league_server.py --games "$game" --web-folder ligue --hours 48 \
  --port-file "$demo/league.port" --log "$demo/league-requests.log" >/dev/null &
league=$!
pids=($league)
cleanup() { kill "${pids[@]}" 2>/dev/null || true; }
trap cleanup EXIT
for _ in $(seq 100); do [ -s "$demo/league.port" ] && break; sleep 0.1; done

# The demo sets every switch it relies on: the host's own settings (his mailbox, his chat
# room's event command, receipts off...) are not the demo game's. Only a sendmail of his stays.
for variable in $(compgen -e | grep '^VENTARI_' || true); do
  [ "$variable" = VENTARI_SENDMAIL ] || unset "$variable"
done
export VENTARI_RECEIPTS=1
export VENTARI_LEAGUE_SERVER="http://127.0.0.1:$(cat "$demo/league.port")/"
# The mails go to the demo's outbox, unless VENTARI_SENDMAIL names a real sendmail.
mails_expected=0
if [ -z "${VENTARI_SENDMAIL:-}" ]; then
  export VENTARI_SENDMAIL="$top/tools/demo_sendmail.py $demo/outbox"
  mails_expected=7  # two first turn files, two receipts, two turn mails, the report
fi
# A machine without a sound card plays the ready sound into SDL's silent device.
if [ -z "${SDL_AUDIODRIVER:-}" ] && ! ls /dev/snd/pcm* >/dev/null 2>&1; then
  export SDL_AUDIODRIVER=dummy
fi

wait_for_turn() {
  # The turn is done when both caches are back and the mails are out.
  for _ in $(seq 600); do
    if [ -s "$demo/jeux/$game/curyear.txt" ] && [ -s "$demo/jeux/$game/nextdl.txt" ] &&
      [ "$(ls "$demo/outbox" | wc -l)" -ge $mails_expected ] && ! [ -e "$demo/jeux/$game/$game.x1" ]; then
      return 0
    fi
    kill -0 "$1" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

cd "$demo"
if [ -n "${DISPLAY:-}" ]; then
  "$top/build/bin/ventari" &
  robot=$!
  if wait_for_turn $robot; then python3 "$top/tools/demo_report.py" "$demo" "$game"; fi
  echo "The robot keeps watching $demo; close its window to end the demo."
  wait $robot || true
  exit 0
fi

# No display: a virtual one, with a window manager so that the window is activated.
Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$demo/display" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$demo/display" ] && break; sleep 0.1; done
display=":$(cat "$demo/display")"
export DISPLAY=$display
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
openbox >/dev/null 2>&1 &
pids+=($!)
# A window mapped before openbox manages the display is never activated: wait for openbox to
# announce itself on the root window.
for _ in $(seq 100); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
  sleep 0.1
done
"$top/build/bin/ventari" >"$demo/ventari.log" 2>&1 &
robot=$!
pids+=($robot)
if wait_for_turn $robot; then
  sleep 1
  import -window root "$demo/screen.png"
  # Cut the window, with its frame, out of the whole screen.
  for window in $(xdotool search --name "^Ventari surveillance$"); do
    eval "$(xdotool getwindowgeometry --shell "$window")"
    [ "$WIDTH" -eq 179 ] && break
  done
  convert "$demo/screen.png" -crop "$((WIDTH + 20))x$((HEIGHT + 40))+$((X - 10))+$((Y - 30))" +repage \
    "$demo/screenshot.png" && rm -f "$demo/screen.png"
  python3 "$top/tools/demo_report.py" "$demo" "$game"
  echo "Window:             $demo/screenshot.png"
else
  import -window root "$demo/screenshot.png" 2>/dev/null || true
  echo "The turn was not generated; see $demo/screenshot.png and $demo/ventari.log" >&2
  exit 1
fi
