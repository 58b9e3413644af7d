#!/usr/bin/env bash
# Installs the Debian 12 packages Tonvale needs that are not installed yet.
#   scripts/install-deps.sh          build and run
#   scripts/install-deps.sh --tests  also the test suite's outside oracles
set -euo pipefail

packages=(g++ cmake ninja-build pkg-config ccache
          qt6-base-dev libltc-dev libsndfile1-dev libasound2-dev
          libjack-jackd2-dev xvfb xauth fonts-dejavu-core)
packages+=(libhidapi-dev libusb-1.0-0-dev libavahi-client-dev)
# The symbols on buttons and group titles (clipboard, arrows, fader, warning):
# DejaVu lacks them, and without a font that has them they show as boxes.
packages+=(fonts-noto-color-emoji)
# Formatting a backup card as exFAT (mkfs.exfat; FUSE mount where the kernel lacks exfat).
packages+=(exfatprogs exfat-fuse)
if [[ "${1:-}" == "--tests" ]]; then
  packages+=(libgtest-dev libgmock-dev
             ffmpeg sox sndfile-programs mediainfo libxml2-utils alsa-utils
             curl python3 litmus cadaver rclone davfs2 nginx-light libnginx-mod-http-dav-ext
             jackd2)
  packages+=(fonts-crosextra-carlito poppler-utils)
  packages+=(avahi-daemon avahi-utils dbus-daemon iproute2)
  # Real key presses and releases on the test's own X server.
  packages+=(xdotool)
  # The suite's second pass runs in a comma-decimal locale (scripts/test.sh).
  packages+=(locales)
fi

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

sudo=""
[[ $(id -u) -ne 0 ]] && sudo="sudo"

if (( ${#missing[@]} > 0 )); then
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Debian ships the locale sources only; the compiled de_DE.UTF-8 goes into the
# system's locale archive (as locale-gen would, without editing locale.gen).
if [[ "${1:-}" == "--tests" ]] && ! locale -a 2>/dev/null | grep -qix 'de_DE\.utf-\?8'; then
  echo "Generating locale de_DE.UTF-8"
  $sudo localedef -i de_DE -f UTF-8 de_DE.UTF-8
fi
