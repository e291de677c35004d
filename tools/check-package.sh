#!/usr/bin/env bash
# Builds the Debian package from the default build, installs it into this machine with apt-get
# (CI runs on a fresh machine, as root) and runs the installed program.
# Usage: tools/check-package.sh [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

out="$build/package"
rm -rf "$out"
cpack --config "$build/CPackConfig.cmake" -B "$out" >/dev/null
rm -rf "$out/_CPack_Packages"
shopt -s nullglob
debs=("$out"/ventari_*.deb)
[ ${#debs[@]} -eq 1 ] || { echo "expected one ventari_<version>_<arch>.deb in $out" >&2; exit 1; }
deb=$(realpath "${debs[0]}")
version=$(dpkg-deb -f "$deb" Version)
arch=$(dpkg --print-architecture)
[ "$(basename "$deb")" = "ventari_${version}_${arch}.deb" ] || { echo "bad name: $deb" >&2; exit 1; }

# The libraries it links were found by dpkg-shlibdeps; the window's font family comes with it; a
# sendmail is recommended; wine and xvfb (the real game), getmail6 (orders by mail), curl and jq
# (the event command's examples) are only suggested.
depends=$(dpkg-deb -f "$deb" Depends)
for p in libqt6widgets6 libgmime-3.0-0 libsdl2-2.0-0 libjpeg62-turbo qt6-qpa-plugins fonts-liberation; do
  grep -q "$p" <<<"$depends" || { echo "Depends lacks $p: $depends" >&2; exit 1; }
done
grep -qw mail-transport-agent <<<"$(dpkg-deb -f "$deb" Recommends)" ||
  { echo "no mail transport is recommended" >&2; exit 1; }
suggests=$(dpkg-deb -f "$deb" Suggests)
for p in wine xvfb getmail6 curl jq; do
  grep -qw $p <<<"$suggests" || { echo "$p is not suggested: $suggests" >&2; exit 1; }
done

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
  --reinstall "$deb" >/dev/null

# The installed files, not the build's.
[ "$(/usr/bin/ventari --version)" = "ventari $version" ] || {
  echo "installed ventari --version: $(/usr/bin/ventari --version)" >&2; exit 1; }
dpkg -L ventari | grep -qx /usr/lib/systemd/user/ventari.service
desktop-file-validate /usr/share/applications/ventari.desktop

# "ventari --check" on a prepared host folder, with the installed programs only, against the
# league page stand-in on loopback.
folder=$(mktemp -d)
server=""
cleanup() { [ -n "$server" ] && kill "$server" 2>/dev/null; rm -rf "$folder"; }
trap cleanup EXIT
mkdir -p "$folder/stars" "$folder/pub" "$folder/jeux/alpha"
ln -s /usr/bin/starsgen "$folder/stars/stars.exe"
ln -s /usr/bin/staryear "$folder/jeux/staryear.EXE"
printf 'b\t%s\r\ne\tstars.exe\r\np\t%s\r\nj\t%s\r\n' "$folder/stars" "$folder/pub" "$folder/jeux" \
  >"$folder/ventari.def"
printf 'jeu\talpha\r\nweb\tligue\r\nhote\th@localhost\r\nr\t0\r\na\t1\r\nh\t48\r\nn\t1\r\nJ1\tAnn,ann@localhost\r\n' \
  >"$folder/jeux/ventari.pla"
(cd "$folder/jeux/alpha" && /usr/bin/starsgen --new alpha.hst --players 1 &&
  /usr/bin/starsgen --orders alpha.hst --player 1)
python3 tools/league_server.py --games alpha --web-folder ligue --port-file "$folder/port" \
  >/dev/null 2>&1 &
server=$!
for _ in $(seq 100); do [ -s "$folder/port" ] && break; sleep 0.1; done
check=$(env -u DISPLAY -u WAYLAND_DISPLAY VENTARI_SENDMAIL=/bin/cat \
  VENTARI_LEAGUE_SERVER="http://127.0.0.1:$(cat "$folder/port")/" \
  VENTARI_LEAGUE_SITE=http://ligue.example.org/ \
  /usr/bin/ventari --check --folder "$folder") || { echo "$check" >&2; exit 1; }
echo "$check" | grep -qx "  1 Ann: in" || { echo "$check" >&2; exit 1; }

echo "package $(basename "$deb") installed; ventari --version says $version"
