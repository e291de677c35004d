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

# The libraries it links were found by dpkg-shlibdeps; wine is only suggested.
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libgmime-3.0-0 libsdl2-2.0-0 libjpeg62-turbo qt6-qpa-plugins; do
  grep -q "$lib" <<<"$depends" || { echo "Depends lacks $lib: $depends" >&2; exit 1; }
done
grep -qw wine <<<"$(dpkg-deb -f "$deb" Suggests)" || { echo "wine is not suggested" >&2; exit 1; }

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
  --reinstall "$deb" >/dev/null

# The installed files, not the build's.
[ "$(/usr/bin/ventari --version)" = "ventari $version" ] || {
  echo "installed ventari --version: $(/usr/bin/ventari --version)" >&2; exit 1; }
dpkg -L ventari | grep -qx /usr/lib/systemd/user/ventari.service
desktop-file-validate /usr/share/applications/ventari.desktop

# TO WIRE: "ventari --check" on a prepared folder, from the installed files, once it exists:
#   prepare a host folder (ventari.def, a game made with /usr/bin/starsgen, staryear.EXE linked
#   to /usr/bin/staryear), then: /usr/bin/ventari --check --folder "$folder"   (expect status 0)

echo "package $(basename "$deb") installed; ventari --version says $version"
