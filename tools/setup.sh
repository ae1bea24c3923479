#!/usr/bin/env bash
# Installs the Debian packages that building, running, testing and measuring Digit Mosaic
# need, skipping those already there. Safe to run again. Uses sudo unless run as root.
# With --build, only what building everything and running the saver need: not the servers,
# hosts and checkers that the tests start.
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    qt6-base-dev libxcb1-dev libxcb-randr0-dev libxcb-shm0-dev libx11-dev libxtst-dev libxfixes-dev
    googletest libgtest-dev libbenchmark-dev
    libwayland-dev wayland-protocols libwayland-bin
    qt6-wayland fonts-dejavu-core
)
if [[ ${1:-} != --build ]]; then
    packages+=(
        clang-format xvfb xdotool strace openbox procps faketime
        dpkg-dev file lintian appstream desktop-file-utils groff libxml2-utils gzip
        xserver-xorg-core xserver-xorg-video-dummy x11-xserver-utils
        xscreensaver xscreensaver-data
        mate-screensaver dbus-bin dbus-daemon dconf-service dconf-gsettings-backend libglib2.0-bin
        sway grim wtype
    )
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if ((${#missing[@]} == 0)); then
    exit 0
fi

as_root=()
if ((EUID != 0)); then
    as_root=(sudo)
fi
echo "Installing: ${missing[*]}"
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
