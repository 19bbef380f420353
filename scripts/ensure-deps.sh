#!/usr/bin/env bash
# Installs the Debian 12 packages Kadrillo needs to build, run and test,
# only those that are missing, with a single `apt-get update` when needed.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang-format
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev libgstreamer-plugins-bad1.0-dev
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  gstreamer1.0-plugins-bad gstreamer1.0-plugins-ugly gstreamer1.0-libav gstreamer1.0-x
  gstreamer1.0-alsa gstreamer1.0-pulseaudio
  libjpeg62-turbo-dev
  libavc1394-dev libraw1394-dev libiec61883-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  ffmpeg xvfb xauth imagemagick dbus-daemon
  desktop-file-utils appstream man-db groff-base librsvg2-bin lintian python3-debian
  libpango1.0-dev
  fonts-dejavu-core fonts-liberation2 adwaita-icon-theme
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg -s "$p" >/dev/null 2>&1; then
    missing+=("$p")
  elif ! dpkg -s "$p" 2>/dev/null | grep -q '^Status: install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

echo "Installing missing packages: ${missing[*]}"
SUDO=()
if [[ $(id -u) -ne 0 ]]; then
  SUDO=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -q
"${SUDO[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
