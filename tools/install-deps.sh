#!/usr/bin/env bash
# Installs the Debian packages that the build, the demo and the tests need, when missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev lld pkg-config clang-format
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libgmime-3.0-dev libsdl2-dev libjpeg-dev libsqlite3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth openbox xdotool x11-apps x11-utils imagemagick fonts-dejavu-core fonts-liberation
  msmtp python3 python3-aiosmtpd curl locales dovecot-imapd getmail6
  wine wine64 g++-mingw-w64-x86-64-posix
  dpkg-dev desktop-file-utils groff-base debootstrap
  chromium
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The window test measures the clock line in these locales.
for l in fr_FR en_US; do
  locale -a 2>/dev/null | grep -qi "^$l\.utf-\?8$" || $sudo localedef -i "$l" -f UTF-8 "$l.UTF-8"
done
