#!/usr/bin/env bash
# Installs the Debian package of the default build into a minimal Debian 12 root (debootstrap
# --variant=minbase: the base system and nothing else) and tries it there as a new host would:
# --version, --check on a prepared host folder, a headless turn with the installed stand-in game
# and year tool, and the window under Xvfb. Fails on a dependency the package does not pull
# in, a file it lacks, or a line in the robot's output that is not one of its own.
# Needs root (chroot, mounts). tools/check-package.sh makes the package first.
# Usage: tools/check-clean-root.sh [build folder]
# What it leaves, in <build>/clean-root/: the logs, the mails, screenshot.png.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
build=$(realpath "${1:-build}")
if [ "$(id -u)" -ne 0 ]; then exec sudo bash "$top/tools/check-clean-root.sh" "$build"; fi
SECONDS=0

shopt -s nullglob
debs=("$build"/package/ventari_*.deb)
[ ${#debs[@]} -eq 1 ] || { echo "expected one ventari_<version>_<arch>.deb in $build/package" >&2; exit 1; }
deb=${debs[0]}
version=$(dpkg-deb -f "$deb" Version)

# The bare root is made once and reused for a month; the packages it downloads are kept beside
# it, so that a run on the same machine fetches only what changed in the archive.
cache=${VENTARI_ROOT_CACHE:-/var/cache/ventari-ci}
tarball=$cache/bookworm-minbase.tar
out=$build/clean-root
root=$out/root
mkdir -p "$cache/archives" "$out"

fail() { echo "clean root: $*" >&2; exit 1; }

mounts_under() { findmnt -rn -o TARGET | awk -v p="$1/" 'index($0, p) == 1' | sort -r; }
pids_in_root() {
  local p
  for p in /proc/[0-9]*; do
    [ "$(readlink "$p/root" 2>/dev/null)" = "$root" ] && echo "${p#/proc/}"
  done
  return 0
}
league=""
cleanup() (
  set +e
  ok=0
  [ -n "$league" ] && kill "$league" 2>/dev/null
  # Anything still running in the root keeps its mounts busy.
  pids=$(pids_in_root)
  if [ -n "$pids" ]; then
    kill $pids 2>/dev/null
    for _ in $(seq 50); do [ -z "$(pids_in_root)" ] && break; sleep 0.1; done
    pids=$(pids_in_root)
    [ -n "$pids" ] && kill -9 $pids 2>/dev/null
  fi
  for m in $(mounts_under "$out"); do umount "$m" 2>/dev/null || umount -l "$m" || ok=1; done
  if [ -n "$(mounts_under "$out")" ]; then
    echo "clean root: mounts left behind under $out" >&2
    exit 1
  fi
  # Only once nothing is mounted there: a bound /dev must never be deleted through the root.
  rm -rf --one-file-system "$root" "$out/bootstrap"
  exit $ok
)
trap 'rc=$?; cleanup || rc=1; exit $rc' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# A run that was killed may have left its root behind, mounts and all.
cleanup
rm -rf "${out:?}"/*

# Debian's archive as this machine's apt reaches it: the release, its updates and security fixes.
sources=$(python3 - <<'EOF'
import glob, re

lines = []
def add(kind, uri, suites, components):
    for suite in suites:
        if kind == "deb" and re.fullmatch(r"bookworm(-updates|-security)?", suite) \
                and "main" in components:
            lines.append("deb %s %s main" % (uri.rstrip("/"), suite))

for path in ["/etc/apt/sources.list"] + sorted(glob.glob("/etc/apt/sources.list.d/*.list")):
    try:
        text = open(path).read()
    except OSError:
        continue
    for line in text.splitlines():
        words = re.sub(r"\[[^]]*\]", "", line.split("#")[0]).split()
        if len(words) >= 4:
            add(words[0], words[1], [words[2]], words[3:])
for path in sorted(glob.glob("/etc/apt/sources.list.d/*.sources")):
    for stanza in re.split(r"\n\s*\n", open(path).read()):
        fields = {}
        for line in stanza.splitlines():
            if ":" in line and not line.startswith(("#", " ", "\t")):
                name, value = line.split(":", 1)
                fields[name.strip().lower()] = value.split()
        if fields.get("enabled", ["yes"])[0] == "no":
            continue
        for kind in fields.get("types", []):
            for uri in fields.get("uris", []):
                add(kind, uri, fields.get("suites", []), fields.get("components", []))
print("\n".join(dict.fromkeys(lines)))
EOF
)
mirror=$(awk '$3 == "bookworm" { print $2; exit }' <<<"$sources")
if [ -z "$mirror" ]; then
  mirror=http://deb.debian.org/debian
  sources="deb $mirror bookworm main"
fi

if [ ! -s "$tarball" ] || [ -n "$(find "$tarball" -mtime +30)" ]; then
  echo "making the minimal root from $mirror"
  debootstrap --variant=minbase bookworm "$out/bootstrap" "$mirror" >"$out/debootstrap.log" 2>&1 ||
    { tail -n 20 "$out/debootstrap.log" >&2; fail "debootstrap failed"; }
  chroot "$out/bootstrap" apt-get clean
  tar -C "$out/bootstrap" --numeric-owner -cf "$tarball.new" .
  mv "$tarball.new" "$tarball"
  rm -rf --one-file-system "$out/bootstrap"
fi
mkdir "$root"
tar -C "$root" --numeric-owner -xpf "$tarball"
echo "$sources" >"$root/etc/apt/sources.list"
cp /etc/resolv.conf "$root/etc/resolv.conf"

mount -t proc proc "$root/proc"
mount --bind /dev "$root/dev"
mount --bind /dev/pts "$root/dev/pts"
mount -t tmpfs tmpfs "$root/dev/shm"

# Root's commands, and the host's: an ordinary user with nothing in his environment but the
# basics (no display, no session, no sound settings) and what is given on the command line.
# (Arrays, so that a command started in the background is the program itself, to be stopped.)
root_cmd=(chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root
  LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive)
host_cmd=(chroot --userspec=host:host "$root" /usr/bin/env -i PATH=/usr/local/bin:/usr/bin:/bin
  HOME=/home/host USER=host LOGNAME=host LANG=C.UTF-8)
in_root() { "${root_cmd[@]}" "$@"; }
as_host() { "${host_cmd[@]}" "$@"; }
# The root's size without the downloaded packages apt keeps.
size_of_root() { du -shx --exclude="$root/var/cache/apt/archives" "$root" | cut -f1; }
installed_count() { in_root dpkg-query -W -f '${db:Status-Status}\n' | grep -cx installed; }
keep_archives() {
  in_root apt-get autoclean -qq >/dev/null
  rm -f "$cache"/archives/*.deb
  cp "$root"/var/cache/apt/archives/*.deb "$cache/archives/" 2>/dev/null || true
}

base_count=$(installed_count)
base_size=$(size_of_root)
# The host: an ordinary user.
in_root useradd -m -s /bin/sh host
in_root apt-get update -qq >"$out/apt.log" 2>&1 || { cat "$out/apt.log" >&2; fail "apt-get update failed"; }
cp "$cache"/archives/*.deb "$root/var/cache/apt/archives/" 2>/dev/null || true
cp "$deb" "$root/tmp/"
pkg=/tmp/$(basename "$deb")

# What a plain "apt-get install" would bring: the recommended sendmail must be installable.
in_root apt-get install -s "$pkg" >"$out/apt-simulate.log" 2>&1 ||
  { cat "$out/apt-simulate.log" >&2; fail "the package cannot be installed"; }
grep -q '^Inst msmtp-mta ' "$out/apt-simulate.log" || fail "the recommended msmtp-mta would not come"
# The check itself runs with the dependencies alone, nothing that is only recommended.
in_root apt-get install -y --no-install-recommends "$pkg" >>"$out/apt.log" 2>&1 ||
  { tail -n 30 "$out/apt.log" >&2; fail "apt-get install of the package failed"; }
keep_archives
package_count=$(installed_count)
package_size=$(size_of_root)
echo "clean root: $base_count packages ($base_size) bare, $package_count ($package_size) with ventari"

# Every file the package lists, whole; every library its programs and Qt's X11 plugin load.
verify=$(in_root dpkg --verify ventari) || true
[ -z "$verify" ] || fail "installed files differ from the package: $verify"
for f in /usr/bin/ventari /usr/bin/staryear /usr/bin/starsgen /usr/share/ventari/pret.wav \
  /usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf; do
  [ -e "$root$f" ] || fail "missing $f"
done
plugin=$(cd "$root" && echo usr/lib/*/qt6/plugins/platforms/libqxcb.so)
[ -n "$plugin" ] || fail "Qt's X11 platform plugin is not installed"
missing=$(in_root ldd /usr/bin/ventari /usr/bin/staryear /usr/bin/starsgen "/$plugin" | grep 'not found' || true)
[ -z "$missing" ] || fail "libraries not found: $missing"

got=$(as_host ventari --version) || fail "ventari --version failed"
[ "$got" = "ventari $version" ] || fail "ventari --version says: $got"

# Each line the robot writes is its own: "YYYY-MM-DD HH:MM:SS level text".
own_lines() {
  local stray
  stray=$(grep -Ev '^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} (info|warning|error|box) ' "$1" || true)
  [ -z "$stray" ] || fail "lines in $1 that are not the robot's: $stray"
}

# The host's folder: ventari.def, the stand-in game as the game executable, the year tool in the
# game folder, a game of two human players whose orders are in, a deadline in the past.
as_host sh -e -c '
h=$HOME/ventari
mkdir -p "$h/stars" "$h/pub" "$h/jeux/alpha" "$HOME/outbox"
ln -s /usr/bin/starsgen "$h/stars/stars.exe"
ln -s /usr/bin/staryear "$h/jeux/staryear.EXE"
printf "binaires\t%s\r\nexecutable\tstars.exe\r\npublication\t%s\r\njeux\t%s\r\n" \
  "$h/stars" "$h/pub" "$h/jeux" >"$h/ventari.def"
printf "jeu\talpha\r\nweb\tligue\r\nhote\thost@localhost\r\nreserve\t0\r\nauto\t1\r\nheures\t48\r\nnb\t2\r\nJ1\tAnn,ann@localhost\r\nJ2\tBob,bob@localhost\r\n" \
  >"$h/jeux/ventari.pla"
cd "$h/jeux/alpha"
starsgen --new alpha.hst --players 2 >/dev/null
starsgen --orders alpha.hst --player 1 >/dev/null
starsgen --orders alpha.hst --player 2 >/dev/null
printf "2002-07-30 18:00:00\r\n" >nextdl.txt
printf "2400\r\n" >curyear.txt
'
folder=/home/host/ventari
game=$root$folder/jeux/alpha
outbox=$root/home/host/outbox
# The sendmail stand-in keeps each message in a file of its own.
cat >"$root/usr/local/bin/mail-to-file" <<'EOF'
#!/bin/sh
f=$(mktemp "$HOME/outbox/mail.XXXXXX") && cat >"$f" && mv "$f" "$f.eml"
EOF
chmod 755 "$root/usr/local/bin/mail-to-file"

# The league's deadline page, served from outside: the root shares this machine's loopback.
python3 tools/league_server.py --games alpha --web-folder ligue --port-file "$out/league.port" \
  --log "$out/league-requests.log" >/dev/null 2>&1 &
league=$!
# A minute at most: the check may run beside a build and other tests.
for _ in $(seq 600); do [ -s "$out/league.port" ] && break; sleep 0.1; done
[ -s "$out/league.port" ] || fail "the league page server did not start"
# A league site of its own: --check calls the example site the program ships with a problem.
robot_env=(VENTARI_SENDMAIL=/usr/local/bin/mail-to-file
  "VENTARI_LEAGUE_SERVER=http://127.0.0.1:$(cat "$out/league.port")/"
  VENTARI_LEAGUE_SITE=http://ligue.example.org/)

as_host "${robot_env[@]}" ventari --check --folder "$folder" >"$out/check.txt" 2>"$out/check.err" ||
  { cat "$out/check.txt" "$out/check.err" >&2; fail "ventari --check failed"; }
own_lines "$out/check.err"
for line in "  1 Ann: in" "  2 Bob: in"; do
  grep -qxF "$line" "$out/check.txt" || { cat "$out/check.txt" >&2; fail "--check lacks '$line'"; }
done

# A headless turn: generated, published, mailed, then the new deadline and year learnt.
first_line() { [ -s "$1" ] && head -n 1 "$1" | tr -d '\r'; }
"${host_cmd[@]}" "${robot_env[@]}" ventari --headless --folder "$folder" >"$out/headless.log" 2>&1 &
robot=$!
done_turn=""
for _ in $(seq 1800); do
  kill -0 $robot 2>/dev/null || break
  mails=("$outbox"/*.eml)
  if [ "$(first_line "$game/curyear.txt")" = 2401 ] && [ -s "$game/nextdl.txt" ] &&
    [ ${#mails[@]} -ge 7 ]; then
    done_turn=1
    break
  fi
  sleep 0.1
done
kill -TERM $robot 2>/dev/null || true
status=0
wait $robot || status=$?
[ -n "$done_turn" ] || { cat "$out/headless.log" >&2; fail "the headless turn did not finish"; }
[ $status -eq 0 ] || { cat "$out/headless.log" >&2; fail "the headless robot ended with status $status on TERM"; }
own_lines "$out/headless.log"
mails=("$outbox"/*.eml)
# Each player's first turn file (the game was never mailed), receipt and turn; the host's report.
[ ${#mails[@]} -eq 7 ] || fail "${#mails[@]} mails, not 7"
for to in ann@localhost bob@localhost host@localhost; do
  grep -l -i "^To:.*$to" "${mails[@]}" >/dev/null || fail "no mail to $to"
done
python3 - "${mails[@]}" <<'EOF_RECEIPTS' || fail "not two first files and two receipts"
import email, email.policy, sys
mails = [email.message_from_binary_file(open(f, "rb"), policy=email.policy.default)
         for f in sys.argv[1:]]
receipts = sum("ordres reçus" in m["Subject"] for m in mails)
first = sum(m.get_body(("plain",)).get_content().startswith("la partie alpha commence")
            for m in mails)
sys.exit(0 if receipts == 2 and first == 2 else 1)
EOF_RECEIPTS
grep -Eqx '[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}' <<<"$(first_line "$game/nextdl.txt")" ||
  fail "nextdl.txt: $(first_line "$game/nextdl.txt")"
for f in alpha.m1 alpha.m2 status/status.json status/index.html; do
  [ -s "$root$folder/pub/alpha/$f" ] || fail "$f was not published"
done
mkdir "$out/mails"
cp "${mails[@]}" "$out/mails/"

# The window, under a virtual display: xvfb comes into the root for this part only.
in_root apt-get install -y --no-install-recommends xvfb >>"$out/apt.log" 2>&1 ||
  { tail -n 30 "$out/apt.log" >&2; fail "apt-get install xvfb failed"; }
keep_archives
# The server picks a free display itself and tells its number once it accepts connections: no
# number guessed beside other servers, no cookie to race for (xvfb-run's xauth step failed once
# on a busy machine, and the robot then could not connect).
"${host_cmd[@]}" sh -c 'exec Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp \
  3>"$HOME/display" 2>"$HOME/xvfb.log"' &
xvfb=$!
for _ in $(seq 600); do
  [ -s "$root/home/host/display" ] && break
  kill -0 $xvfb 2>/dev/null || break
  sleep 0.1
done
[ -s "$root/home/host/display" ] ||
  { cat "$root/home/host/xvfb.log" >&2; fail "Xvfb did not tell its display"; }
n=$(cat "$root/home/host/display")
"${host_cmd[@]}" DISPLAY=:$n sh -c 'echo $$ >"$HOME/window.pid"; exec "$@" >"$HOME/window.log" 2>&1' \
  sh env "${robot_env[@]}" ventari --folder "$folder" &
robot=$!
export DISPLAY=:$n
window=""
state_box() { import -window "$window" -crop 100x16+72+64 +repage "$1" 2>/dev/null; }
# Shown once its state's placeholder is drawn: more colours than the background's.
for _ in $(seq 600); do
  kill -0 $robot 2>/dev/null || break
  window=$(xdotool search --onlyvisible --name '^Ventari surveillance$' 2>/dev/null | head -n 1 || true)
  if [ -n "$window" ] && state_box "$out/state-before.png" &&
    [ "$(convert "$out/state-before.png" -format %k info:)" -gt 2 ]; then
    break
  fi
  window=""
  sleep 0.1
done
# Without a window manager nothing activates the window, which would wait a minute for its
# first refresh: the focus does it.
shown=""
if [ -n "$window" ]; then
  xdotool windowfocus "$window" 2>/dev/null || true
  # The first look logs the state, then the window shows it in place of its placeholder "XXX"
  # (about 20 pixels wide; "incomplet" is twice that). Judged on the text's width, not on a
  # change from a first picture: on a busy machine the state may already be drawn in it.
  for _ in $(seq 1200); do
    kill -0 $robot 2>/dev/null || break
    if grep -q ' info state: ' "$root/home/host/window.log" && state_box "$out/state-now.png" &&
      [ "$(convert "$out/state-now.png" -trim -format %w info: 2>/dev/null || echo 0)" -gt 30 ]; then
      shown=1
      break
    fi
    sleep 0.1
  done
  import -window root "$out/screenshot.png" || true
  import -window "$window" "$out/window.png" || true
  rm -f "$out"/state-*.png
fi
[ -s "$root/home/host/window.pid" ] && kill -TERM "$(cat "$root/home/host/window.pid")" 2>/dev/null || true
status=0
wait $robot || status=$?
kill -TERM $xvfb 2>/dev/null || true
wait $xvfb 2>/dev/null || true
cp "$root/home/host/window.log" "$out/window.log" 2>/dev/null || true
[ -n "$window" ] || { cat "$root/home/host/xvfb.log" "$out/window.log" >&2; fail "the window did not show"; }
[ -n "$shown" ] || { cat "$out/window.log" >&2; fail "the window did not show the turn's state"; }
[ $status -eq 0 ] || { cat "$out/window.log" >&2; fail "the window's robot ended with status $status on TERM"; }
own_lines "$out/window.log"

echo "clean root: --check, turn, mails, year and window checked in ${SECONDS}s;" \
  "screenshot $out/screenshot.png"
