#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the run command need,
# only when something is missing.
set -euo pipefail

packages=(
    cmake make g++ googletest pkg-config clang libclang-rt-14-dev clang-format
    libcli11-dev nlohmann-json3-dev libserialport-dev libssl-dev
    postgresql libpq-dev libpq5
    mingw-w64 g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    wine wine64 xvfb x11-utils imagemagick fonts-nanum
    python3-pytest python3-pip python3-venv
    libboost-dev libjs-chart.js chromium chromium-driver python3-selenium
)

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
        missing+=("$package")
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
